// DnsResolver: asks one DNS server about names and renders the answer records as text, for the
// MX delivery of the send engine and the command line's "dns" commands. Built on ldns.
//
// Entry points: lookupMx(name) and query(names, className, typeName) return the rendered records
// joined by separator(); selectMxHost(resolver, address) is the send engine's choice of exchanger.
// typeNumber()/classNumber() translate the names the query accepts; renderAnswer() renders a
// received packet (the part that reads outside input, kept apart so it can be fuzzed).
//
// Configuration: the first "nameserver" of the resolver configuration (/etc/resolv.conf, or the
// file named by QUILLMARK_RESOLV_CONF) is the one server asked; it may carry a port as
// "address#port" or "[address]:port". "domain" and "search" give the search domains. Nothing is
// cached: a resolver is meant to live for one recipient.
//
// Failure contract: every failure (no server, class other than IN, time-out, error reply, no
// matching records, unrendered type) gives an empty text; nothing is thrown or reported. Answer
// records come out in the order the server sent them; only answer-section records of the queried
// type count (a CNAME in an MX answer is skipped). A reply whose id or question does not match the
// query is ignored. Each query waits at most the time-out (default 5 s) per try, two tries.
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

class DnsResolver {
  public:
    DnsResolver();

    std::string lookupMx(std::string_view name);
    std::string query(std::string_view names, std::string_view className,
                      std::string_view typeName);

    const std::string& separator() const { return separator_; }
    void setSeparator(std::string s) { separator_ = std::move(s); }
    // Replaces the configured servers (blank-separated, port forms allowed).
    void setNameServers(std::string servers) { nameServers_ = std::move(servers); }
    void setSearchDomains(std::vector<std::string> domains);
    const std::vector<std::string>& searchDomains();
    void setTimeout(std::chrono::milliseconds t) { timeout_ = t; }

  private:
    std::string queryOne(std::string_view name, int classNumber, int type);
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

// The exchanger for a recipient: the first MX host of the domain after the last "@", else the
// first MX host of the search domains, else the domain itself. Preference values are not read.
std::string selectMxHost(DnsResolver& resolver, std::string_view address);

}  // namespace qm
