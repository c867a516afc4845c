// The resolver and the MX host selection against dnsmasq (records in tests/peers).
#include <gtest/gtest.h>

#include <cstdlib>

#include "delivery/dns_resolver.h"
#include "peer_env.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

std::string server() {
    return "127.0.0.1#" + test::peerEnv("QM_DNS_PORT");
}

DnsResolver resolver(std::vector<std::string> search = {}) {
    DnsResolver r;
    r.setNameServers(server());
    r.setSearchDomains(std::move(search));
    r.setTimeout(500ms);
    return r;
}

TEST(DnsmasqTest, MxSelection) {
    struct Case {
        const char* name;
        const char* address;
        std::vector<std::string> search;
        const char* want;
    };
    const Case cases[] = {
        {"first host of the answer", "a@example.test", {}, "mx1.example.test"},
        {"first host even with the higher preference value", "a@pref.test", {}, "high.pref.test"},
        {"domain after the last @", "a@b@pref.test", {}, "high.pref.test"},
        {"no MX: the search domains' exchanger",
         "a@nomx.test",
         {"example.test"},
         "mx1.example.test"},
        {"no MX anywhere: the domain itself", "a@nomx.test", {"nomx.test"}, "nomx.test"},
        {"CNAME instead of MX counts as none", "a@alias.test", {}, "alias.test"},
        {"unknown domain", "a@unknown.test", {}, "unknown.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DnsResolver r = resolver(c.search);
        MxHost mx = selectMxHost(r, c.address);
        EXPECT_NE(mx.status, DnsStatus::TemporaryFailure);
        EXPECT_EQ(mx.host, c.want);
    }
}

TEST(DnsmasqTest, QueriesRenderAnswerRecords) {
    using V = std::vector<std::string>;
    DnsResolver r = resolver({"example.test", "pref.test"});
    EXPECT_EQ(r.lookupMx("example.test").records, (V{"mx1.example.test", "mx2.example.test"}));
    EXPECT_EQ(r.lookupMx("").records,
              (V{"mx1.example.test", "mx2.example.test", "high.pref.test", "low.pref.test"}));
    DnsAnswer cname = r.lookupMx("alias.test");  // only a CNAME comes back
    EXPECT_EQ(cname.status, DnsStatus::None);
    EXPECT_EQ(cname.records, V{});
    EXPECT_EQ(r.lookupMx("unknown.test").status, DnsStatus::None);  // NXDOMAIN
    EXPECT_EQ(r.query("alias.test", "IN", "A").records, V{"127.0.0.4"});
    EXPECT_EQ(r.query("127.0.0.4", "C_IN", "T_PTR").records, V{"nomx.test"});
    EXPECT_EQ(r.query("_smtp._tcp.example.test", "IN", "SRV").records, V{"mx1.example.test"});
    EXPECT_EQ(r.query("example.test", "IN", "TEXT").status, DnsStatus::None);
    DnsAnswer two = r.query("mx1.example.test; nomx.test", "IN", "TYPE_A");
    EXPECT_EQ(two.status, DnsStatus::Found);
    EXPECT_EQ(r.joined(two), "127.0.0.2,127.0.0.4");
    r.setSeparator(" | ");
    EXPECT_EQ(r.joined(r.query("pref.test", "IN", "MX")), "high.pref.test | low.pref.test");
}

TEST(DnsmasqTest, OnlyTheFirstServerIsAsked) {
    const std::string good = server();
    const std::string dead = "127.0.0.1#1";
    for (const std::string& list : {good + ", " + dead, good + " " + dead}) {
        DnsResolver r = resolver();
        r.setNameServers(list);
        EXPECT_EQ(r.joined(r.lookupMx("example.test")), "mx1.example.test,mx2.example.test")
            << list;
    }
    // A first server that does not answer is a failure to find out, not a domain without
    // exchangers: the selection does not fall back to the bare domain.
    DnsResolver r = resolver();
    r.setNameServers(dead + " " + good);
    DnsAnswer a = r.lookupMx("example.test");
    EXPECT_EQ(a.status, DnsStatus::TemporaryFailure);
    EXPECT_EQ(a.error, kDnsNoAnswer);
    MxHost mx = selectMxHost(r, "a@example.test");
    EXPECT_EQ(mx.status, DnsStatus::TemporaryFailure);
    EXPECT_EQ(mx.host, "");
}

TEST(DnsmasqTest, ResolverConfigurationFile) {
    test::TempDir dir;
    dir.write("resolv.conf", "nameserver [127.0.0.1]:" + test::peerEnv("QM_DNS_PORT") +
                                 "\nnameserver 127.0.0.1#1\nsearch example.test\n");
    ::setenv("QUILLMARK_RESOLV_CONF", dir.file("resolv.conf").c_str(), 1);
    DnsResolver r;
    EXPECT_EQ(r.searchDomains(), std::vector<std::string>{"example.test"});
    EXPECT_EQ(selectMxHost(r, "a@nomx.test").host, "mx1.example.test");
    ::unsetenv("QUILLMARK_RESOLV_CONF");
}

}  // namespace
}  // namespace qm
