// DnsResolver: asks one DNS server about names and renders the answer records as text, for the
// MX delivery of the send engine and the command line's "dns" commands. Built on ldns.
// Configuration: the first "nameserver" of the resolver configuration (/etc/resolv.conf, or the
// file named by QUILLMARK_RESOLV_CONF) is the one server asked; it may carry a port as
// "address#port" or "[address]:port". "domain" and "search" give the search domains. Nothing is
// cached: a resolver is meant to live for one recipient.
//
// Entry points: lookupMx(name) and query(names, className, typeName) return a DnsAnswer: the
// rendered records in the order the server sent them, and a status; joined() puts the records
// into one text with separator(). selectMxHost(resolver, address) is the send engine's choice of
// exchanger. dnsTypeNumber()/dnsClassNumber() translate the names the query accepts;
// renderAnswer() renders a received packet (the part that reads outside input, kept apart so it
// can be fuzzed).
//
// Failure: a status beside the records, never an exception. Found: at least one record. None:
// the server said there is nothing (no such name, or no answer-section record of the queried
// type; a CNAME in an MX answer is skipped), or nothing was asked (empty name, class other than
// IN, unknown or unrendered type, a PTR name that is not an IPv4 address). TemporaryFailure: the
// question could not be answered now (no usable server, a time-out, an error code such as
// SERVFAIL, a reply whose id or question does not match), with a fixed text in `error`. The MX
// host selection falls back to the search domains and then to the domain itself only after None:
// a temporary failure is not a domain without exchangers.
//
// Limits: each query waits at most the time-out (default 5 s) per try, two tries; the
// configuration file is read up to 1 MB.
//
// Threads: a resolver belongs to one thread; resolvers on different threads share nothing.
//
// Standard: RFC 1035 (DNS), RFC 5321 section 5.1 (MX selection, here the first record as
// answered), resolv.conf(5).
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct ResolverConfig {
    std::vector<std::string> nameServers;  // as written, port forms included
    std::string domain;                    // "domain" line
    std::vector<std::string> search;       // "search" line
};

// Parses resolv.conf text (comments with "#" or ";" at the line start, unknown lines ignored).
ResolverConfig parseResolverConfig(std::string_view text);
// A "nameserver" word: "1.2.3.4", "1.2.3.4#5353", "1.2.3.4:5353", "::1", "::1#5353" or
// "[::1]:5353". False for an empty address or a port that is not 1 to 65535 in decimal.
struct DnsServerAddress {
    std::string address;
    int port = 53;
};
bool parseDnsServer(std::string_view text, DnsServerAddress& out);
// Reads $QUILLMARK_RESOLV_CONF, else /etc/resolv.conf; a missing file gives an empty config.
ResolverConfig systemResolverConfig();

// Splits a server or name list: at "," when it has one, else at ";", else at blanks; pieces are
// trimmed and empty ones dropped.
std::vector<std::string> splitDnsList(std::string_view text);

// Record type and class numbers for the names query() accepts; -1 for anything else.
int dnsTypeNumber(std::string_view name);
int dnsClassNumber(std::string_view name);
// "ICMP", "TCP"...; "Reserved" for 0 and 255; "Unknown" for numbers without a keyword.
std::string_view ipProtocolKeyword(int number);

// Renders the answer records of type `type` in a DNS reply packet (wire format), in order.
std::vector<std::string> renderAnswer(std::string_view packet, int type);
// The TXT records of a DNS reply packet as lookupTxt() gives them (each record's strings joined).
std::vector<std::string> renderTextAnswer(std::string_view packet);

enum class DnsStatus { Found, None, TemporaryFailure };

// What went wrong in a TemporaryFailure.
inline constexpr std::string_view kDnsNoServer = "no usable DNS server configured";
inline constexpr std::string_view kDnsNoAnswer = "no answer from the DNS server";
inline constexpr std::string_view kDnsServerFailure = "the DNS server reported a failure";
inline constexpr std::string_view kDnsBadAnswer = "the DNS answer does not match the question";

struct DnsAnswer {
    DnsStatus status = DnsStatus::None;
    std::vector<std::string> records;  // rendered, in the order the server sent them
    std::string_view error;            // one of the texts above with TemporaryFailure, else empty
};

// One MX record with its preference; `exchange` is "." for a null MX (RFC 7505).
struct MxRecord {
    int preference = 0;
    std::string exchange;
};

struct MxRecords {
    DnsStatus status = DnsStatus::None;
    std::vector<MxRecord> records;  // in the order the server sent them
    std::string_view error;
};

class DnsResolver {
  public:
    DnsResolver();

    // The MX hosts of `name`; an empty name stands for the search domains.
    DnsAnswer lookupMx(std::string_view name);
    // The TXT records of `name`, each record's strings joined without separators (as SPF, DMARC
    // and DKIM read them). query() keeps rendering no TXT records, as the dns commands promise.
    DnsAnswer lookupTxt(std::string_view name);
    // Several names (list rule of splitDnsList) give their records one after the other: Found
    // when any record came, else TemporaryFailure when any name failed, else None.
    DnsAnswer query(std::string_view names, std::string_view className, std::string_view typeName);
    // The MX records of exactly `name` (no search domains), preferences included: one query.
    MxRecords lookupMxRecords(std::string_view name);
    // The IPv4 and IPv6 addresses of `name` as text, IPv4 first: two queries. Found when either
    // gave an address; TemporaryFailure only when neither did and one could not be answered.
    DnsAnswer lookupAddresses(std::string_view name);
    // The records joined by separator().
    std::string joined(const DnsAnswer& answer) const;

    const std::string& separator() const { return separator_; }
    void setSeparator(std::string s) { separator_ = std::move(s); }
    // Replaces the configured servers (blank-separated, port forms allowed).
    void setNameServers(std::string servers) { nameServers_ = std::move(servers); }
    void setSearchDomains(std::vector<std::string> domains);
    const std::vector<std::string>& searchDomains();
    void setTimeout(std::chrono::milliseconds t) { timeout_ = t; }

  private:
    DnsAnswer queryEach(const std::vector<std::string>& names, int classNumber, int type);
    // With `fields`, each answer record of `type` is also given as its data fields in
    // presentation form ("10", "mx.example."), for the lookups that need more than the rendering.
    // With `text`, TXT records are given as their strings joined (lookupTxt()).
    DnsAnswer queryOne(std::string_view name, int classNumber, int type,
                       std::vector<std::vector<std::string>>* fields = nullptr, bool text = false);
    void fillSearchDomains();
    void addSearchDomain(std::string domain);
    void loadConfig();

    std::vector<std::string> search_;
    bool searchFilled_ = false;
    std::string separator_ = ",";
    std::string nameServers_;
    bool configLoaded_ = false;
    ResolverConfig config_;
    std::chrono::milliseconds timeout_ = std::chrono::seconds(5);
};

struct MxHost {
    // Found: `host` is an MX record's; None: no exchanger anywhere, `host` is the domain itself;
    // TemporaryFailure: no host, `error` says why.
    DnsStatus status = DnsStatus::None;
    std::string host;
    std::string_view error;
    bool nullMx = false;  // the domain says it takes no mail (RFC 7505)
};

// The exchanger for a recipient: the first MX host of the domain after the last "@", else the
// first MX host of the search domains, else the domain itself. Preference values are not read. A
// domain whose answer holds a null MX gives None with `nullMx` set and no host.
MxHost selectMxHost(DnsResolver& resolver, std::string_view address);

}  // namespace qm
