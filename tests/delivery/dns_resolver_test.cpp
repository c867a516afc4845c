// Name tables, list rule, configuration, rendering of received packets, and the status of a query
// against a scripted server that fails or stays silent. Queries against a real server are in
// tests/integration.
#include <gtest/gtest.h>
#include <ldns/ldns.h>

#include <cstdlib>

#include "delivery/dns_resolver.h"
#include "fake_dns.h"

namespace qm {
namespace {

TEST(DnsResolverTest, TypeAndClassNames) {
    const std::pair<const char*, int> types[] = {
        {"MX", 15},   {"T_MX", 15},   {"TYPE_MX", 15}, {"A", 1},          {"TYPE_AAAA", 28},
        {"ANY", 255}, {"T_ALL", 255}, {"WINS", 65281}, {"NBSTAT", 65282}, {"TEXT", 16},
        {"mx", -1},   {"TXT", -1},    {"T_", -1},      {"", -1},          {"TYPE_T_MX", -1},
    };
    for (const auto& [name, number] : types) EXPECT_EQ(dnsTypeNumber(name), number) << name;
    const std::pair<const char*, int> classes[] = {
        {"IN", 1},  {"C_IN", 1},    {"CHAOS", 3}, {"C_HS", 4}, {"NONE", 254},
        {"*", 255}, {"C_ANY", 255}, {"ALL", 255}, {"in", -1},  {"CLASS_IN", -1},
    };
    for (const auto& [name, number] : classes) EXPECT_EQ(dnsClassNumber(name), number) << name;
}

TEST(DnsResolverTest, ListRule) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitDnsList("1.1.1.1, 2.2.2.2"), (V{"1.1.1.1", "2.2.2.2"}));
    EXPECT_EQ(splitDnsList("1.1.1.1 2.2.2.2"), (V{"1.1.1.1", "2.2.2.2"}));
    EXPECT_EQ(splitDnsList("a;b c"), (V{"a", "b c"}));   // ";" wins over blanks
    EXPECT_EQ(splitDnsList("a, b;c"), (V{"a", "b;c"}));  // "," wins over ";"
    EXPECT_EQ(splitDnsList(" , ,a,, "), (V{"a"}));
    EXPECT_EQ(splitDnsList("   "), V{});
}

TEST(DnsResolverTest, ResolverConfigAndSearchDomains) {
    ResolverConfig c = parseResolverConfig(
        "# comment\n; other\nnameserver 127.0.0.1#5353\nnameserver ::1\r\n"
        "domain Mail.Corp.Example\nsearch b.example  c.example.org\noptions ndots:1\n");
    EXPECT_EQ(c.nameServers, (std::vector<std::string>{"127.0.0.1#5353", "::1"}));
    EXPECT_EQ(c.domain, "Mail.Corp.Example");

    DnsResolver r;
    r.setSearchDomains({c.domain, "B.example", "c.example.org", "corp.example", "x"});
    // Lower case, no duplicates; a parent joins while it still has a dot.
    EXPECT_EQ(r.searchDomains(),
              (std::vector<std::string>{"mail.corp.example", "corp.example", "b.example",
                                        "c.example.org", "example.org", "x"}));
}

// A reply packet holding `records` (presentation form) in its answer section.
std::string packet(const std::vector<std::string>& records) {
    ldns_pkt* p = ldns_pkt_new();
    ldns_pkt_set_qr(p, true);
    for (const auto& text : records) {
        ldns_rr* rr = nullptr;
        EXPECT_EQ(ldns_rr_new_frm_str(&rr, text.c_str(), 0, nullptr, nullptr), LDNS_STATUS_OK)
            << text;
        if (rr) ldns_pkt_push_rr(p, LDNS_SECTION_ANSWER, rr);
    }
    uint8_t* wire = nullptr;
    size_t size = 0;
    EXPECT_EQ(ldns_pkt2wire(&wire, p, &size), LDNS_STATUS_OK);
    std::string out(reinterpret_cast<char*>(wire), size);
    std::free(wire);
    ldns_pkt_free(p);
    return out;
}

TEST(DnsResolverTest, RendersAnswerRecordsInOrder) {
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::vector<std::string> records;
        int type;
        V want;
    };
    const Case cases[] = {
        {"MX in answer order, preference not read",
         {"x.test. 0 IN MX 20 high.x.test.", "x.test. 0 IN MX 10 low.x.test."},
         15,
         {"high.x.test", "low.x.test"}},
        {"CNAME in an MX answer is skipped",
         {"x.test. 0 IN CNAME y.test.", "y.test. 0 IN MX 10 mx.y.test."},
         15,
         {"mx.y.test"}},
        {"A", {"x.test. 0 IN A 192.0.2.7", "x.test. 0 IN AAAA ::1"}, 1, {"192.0.2.7"}},
        {"AAAA is not rendered", {"x.test. 0 IN AAAA ::1"}, 28, {}},
        {"NS", {"x.test. 0 IN NS ns1.x.test."}, 2, {"ns1.x.test"}},
        {"SOA gives the primary server",
         {"x.test. 0 IN SOA ns.x.test. host.x.test. 1 2 3 4 5"},
         6,
         {"ns.x.test"}},
        {"SRV gives the target",
         {"_smtp._tcp.x.test. 0 IN SRV 0 0 25 mx.x.test."},
         33,
         {"mx.x.test"}},
        {"RP gives the mailbox",
         {"x.test. 0 IN RP admin.x.test. info.x.test."},
         17,
         {"admin.x.test"}},
        {"PTR", {"7.2.0.192.in-addr.arpa. 0 IN PTR host.x.test."}, 12, {"host.x.test"}},
        {"AFSDB gives the host", {"x.test. 0 IN AFSDB 1 afs.x.test."}, 18, {"afs.x.test"}},
        {"WKS gives protocol and address",
         {"x.test. 0 IN WKS 192.0.2.1 TCP smtp"},
         11,
         {"TCP:192.0.2.1"}},
        {"TXT is not rendered", {"x.test. 0 IN TXT \"hi\""}, 16, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renderAnswer(packet(c.records), c.type), c.want);
    }
    EXPECT_TRUE(renderAnswer("garbage", 15).empty());
    EXPECT_TRUE(renderAnswer("", 15).empty());
}

TEST(DnsResolverTest, ProtocolKeywords) {
    EXPECT_EQ(ipProtocolKeyword(1), "ICMP");
    EXPECT_EQ(ipProtocolKeyword(2), "IGMP");
    EXPECT_EQ(ipProtocolKeyword(6), "TCP");
    EXPECT_EQ(ipProtocolKeyword(17), "UDP");
    EXPECT_EQ(ipProtocolKeyword(0), "Reserved");
    EXPECT_EQ(ipProtocolKeyword(255), "Reserved");
    EXPECT_EQ(ipProtocolKeyword(200), "Unknown");
}

TEST(DnsResolverTest, NothingAskedIsNoneNoServerIsAFailure) {
    DnsResolver r;
    r.setNameServers(" , ");
    DnsAnswer none = r.lookupMx("example.test");
    EXPECT_EQ(none.status, DnsStatus::TemporaryFailure);
    EXPECT_EQ(none.error, kDnsNoServer);
    r.setNameServers("127.0.0.1#1");
    // Class other than IN, a PTR name that is no address, an unknown type: not asked at all.
    for (auto a : {r.query("example.test", "CHAOS", "MX"), r.query("not-an-address", "IN", "PTR"),
                   r.query("example.test", "IN", "TXT")}) {
        EXPECT_EQ(a.status, DnsStatus::None);
        EXPECT_TRUE(a.records.empty());
    }
}

TEST(DnsResolverTest, StatusFollowsWhatTheServerSaid) {
    using namespace std::chrono_literals;
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        test::DnsReply reply;
        DnsStatus want;
        V records;
        std::string_view error;
        std::string host;  // what selectMxHost picks; empty for none
    };
    const Case cases[] = {
        {"MX records in answer order",
         test::answering(0, {"x.test. 0 IN MX 20 b.x.test.", "x.test. 0 IN MX 10 a.x.test."}),
         DnsStatus::Found,
         {"b.x.test", "a.x.test"},
         {},
         "b.x.test"},
        {"no such name", test::answering(3), DnsStatus::None, {}, {}, "x.test"},
        {"a CNAME but no MX",
         {false, 0, {"x.test. 0 IN CNAME y.test."}},
         DnsStatus::None,
         {},
         {},
         "x.test"},
        // The server could not find out: not a domain without exchangers.
        {"SERVFAIL", test::answering(2), DnsStatus::TemporaryFailure, {}, kDnsServerFailure, ""},
        {"REFUSED", test::answering(5), DnsStatus::TemporaryFailure, {}, kDnsServerFailure, ""},
        {"silence", test::silence(), DnsStatus::TemporaryFailure, {}, kDnsNoAnswer, ""},
        {"reply to another question",
         test::answering(0, {"x.test. 0 IN MX 10 evil.test."}, true),
         DnsStatus::TemporaryFailure,
         {},
         kDnsBadAnswer,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeDns dns(c.reply);
        DnsResolver r;
        r.setNameServers(dns.server());
        r.setSearchDomains({});
        r.setTimeout(1s);  // room for a busy machine's fake server; "silence" waits it out
        DnsAnswer a = r.lookupMx("x.test");
        EXPECT_EQ(a.status, c.want);
        EXPECT_EQ(a.records, c.records);
        EXPECT_EQ(a.error, c.error);
        MxHost mx = selectMxHost(r, "someone@x.test");
        EXPECT_EQ(mx.status, c.want);
        EXPECT_EQ(mx.host, c.host);
        EXPECT_EQ(mx.error, c.error);
        EXPECT_GT(dns.queries(), 0);
    }
}

}  // namespace
}  // namespace qm
