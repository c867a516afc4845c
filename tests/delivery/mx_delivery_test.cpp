// Delivery to exchangers: the EHLO keywords as a typed set, the exchanger order and null MX from a
// scripted DNS server, the run's cache asking once per domain, trying candidates in turn, and the
// retry in clear text after a failed opportunistic TLS start.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "delivery/mx_route.h"
#include "delivery/recipient_delivery.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_client.h"
#include "fake_dns.h"
#include "fake_server.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::acceptNext;
using test::expect;
using test::send;
using Script = std::vector<test::ServerStep>;

Script operator+(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

SmtpReply ehloReply(std::vector<std::string> lines) {
    SmtpReply r;
    r.code = 250;
    r.lines = std::move(lines);
    return r;
}

TEST(SmtpCapabilitiesTest, EhloKeywords) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        bool startTls, pipelining, auth, plain, login;
    };
    const Case cases[] = {
        {"greeting line alone offers nothing",
         {"250 mx.test PIPELINING STARTTLS"},
         false,
         false,
         false,
         false,
         false},
        {"Postfix-like",
         {"250-mx.test", "250-PIPELINING", "250-SIZE 10240000", "250-STARTTLS",
          "250-AUTH PLAIN LOGIN", "250 8BITMIME"},
         true,
         true,
         true,
         true,
         true},
        {"old AUTH= form, lower case",
         {"250-mx.test", "250 auth=login"},
         false,
         false,
         true,
         false,
         true},
        {"AUTH without mechanisms", {"250-mx.test", "250 AUTH"}, false, false, true, false, false},
        {"a keyword is a whole word",
         {"250-mx.test", "250-STARTTLSX", "250 XAUTH PLAIN"},
         false,
         false,
         false,
         false,
         false},
        {"bare final line (smtp-sink)",
         {"250-sink", "250-PIPELINING", "250 "},
         false,
         true,
         false,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpCapabilities caps = SmtpCapabilities::fromEhloReply(ehloReply(c.lines));
        EXPECT_EQ(caps.startTls, c.startTls);
        EXPECT_EQ(caps.pipelining, c.pipelining);
        EXPECT_EQ(caps.auth, c.auth);
        EXPECT_EQ(caps.authPlain, c.plain);
        EXPECT_EQ(caps.authLogin, c.login);
    }
}

std::vector<std::string> exchangers(const MxRoute& route) {
    std::vector<std::string> out;
    for (const auto& c : route.candidates) out.push_back(c.exchanger);
    return out;
}

TEST(MxRouteTest, OrderNullMxAndLookupFailureFromAScriptedServer) {
    // The scripted server gives these records to every question, address questions included, so
    // each exchanger goes to the system by name.
    const std::vector<std::string> three = {"d.test. 60 IN MX 20 b.d.test.",
                                            "d.test. 60 IN MX 10 a.d.test.",
                                            "d.test. 60 IN MX 10 c.d.test."};
    struct Case {
        const char* name;
        test::DnsReply reply;
        MxOrder order;
        MxRoute::Status status;
        std::vector<std::string> hosts;
    };
    const Case cases[] = {
        {"as answered: the first record, preference ignored",
         test::answering(0, three),
         MxOrder::AsAnswered,
         MxRoute::Ready,
         {"b.d.test"}},
        {"by preference: lowest first, equal ones as answered",
         test::answering(0, three),
         MxOrder::ByPreference,
         MxRoute::Ready,
         {"a.d.test", "c.d.test", "b.d.test"}},
        {"null MX as answered",
         test::answering(0, {"d.test. 60 IN MX 0 ."}),
         MxOrder::AsAnswered,
         MxRoute::NullMx,
         {}},
        {"null MX by preference",
         test::answering(0, {"d.test. 60 IN MX 0 ."}),
         MxOrder::ByPreference,
         MxRoute::NullMx,
         {}},
        {"no MX by preference: the domain itself",
         test::answering(3),
         MxOrder::ByPreference,
         MxRoute::Ready,
         {"d.test"}},
        {"address records of the domain itself",
         test::answering(0, {"d.test. 60 IN A 192.0.2.7", "d.test. 60 IN AAAA 2001:db8::7"}),
         MxOrder::ByPreference,
         MxRoute::Ready,
         {"d.test", "d.test"}},
        {"SERVFAIL is no domain without exchangers",
         test::answering(2),
         MxOrder::ByPreference,
         MxRoute::LookupFailed,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeDns dns(c.reply);
        DnsResolver resolver;
        resolver.setNameServers(dns.server());
        resolver.setSearchDomains({});
        resolver.setTimeout(500ms);
        MxRoute route = resolveMxRoute(resolver, "Someone@d.test", c.order);
        EXPECT_EQ(route.status, c.status);
        EXPECT_EQ(exchangers(route), c.hosts);
        EXPECT_EQ(route.domain, "d.test");
    }
    // The addresses come as candidates, IPv4 first.
    test::FakeDns dns(
        test::answering(0, {"d.test. 60 IN AAAA 2001:db8::7", "d.test. 60 IN A 192.0.2.7"}));
    DnsResolver resolver;
    resolver.setNameServers(dns.server());
    MxRoute route = resolveMxRoute(resolver, "a@d.test", MxOrder::ByPreference);
    ASSERT_EQ(route.candidates.size(), 2u);
    EXPECT_EQ(route.candidates[0].address, "192.0.2.7");
    EXPECT_EQ(route.candidates[1].address, "2001:db8::7");
}

TEST(MxRouteTest, CacheAsksOncePerDomainAcrossThreads) {
    test::FakeDns dns(test::answering(0, {"d.test. 60 IN MX 0 ."}));
    MxRouteCache cache(MxOrder::ByPreference, dns.server());
    std::vector<std::thread> threads;
    std::atomic<int> nullMx{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                // Letter case of the domain does not make another domain.
                MxRoute r = cache.route(i % 2 ? "x@D.TEST" : "y" + std::to_string(t) + "@d.test");
                if (r.status == MxRoute::NullMx) ++nullMx;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(nullMx.load(), 160);
    EXPECT_EQ(dns.queries(), 1);
    EXPECT_EQ(cache.domainsLookedUp(), 1u);
    cache.route("z@other.test");
    EXPECT_EQ(dns.queries(), 2);
}

TEST(MxRouteTest, FailedLookupIsHeldAWhileThenAskedAgain) {
    test::FakeDns dns(test::answering(2));  // SERVFAIL
    // Holds far from the test's own pace, so that a slow machine cannot end one early.
    MxRouteCache held(MxOrder::ByPreference, dns.server(), std::chrono::hours(1));
    EXPECT_EQ(held.route("a@d.test").status, MxRoute::LookupFailed);
    EXPECT_EQ(held.route("b@d.test").status, MxRoute::LookupFailed);
    EXPECT_EQ(dns.queries(), 1) << "within the hold the failure stands";
    MxRouteCache brief(MxOrder::ByPreference, dns.server(), 1ms);
    EXPECT_EQ(brief.route("a@d.test").status, MxRoute::LookupFailed);
    EXPECT_EQ(dns.queries(), 2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(brief.route("c@d.test").status, MxRoute::LookupFailed);
    EXPECT_EQ(dns.queries(), 3) << "after the hold the next recipient asks again";
}

struct Attempt {
    bool connected;
    bool tls;
    std::string failText;
    std::string log;
};

Attempt connectTo(const std::vector<MxCandidate>& hosts, int port, SmtpSecurity mode) {
    SendLogBuffer log;
    SmtpClient client(hosts.front().target(), port);
    client.setTimeouts(SmtpTimeouts::uniform(test::kPatient));
    client.setSecurity({mode, true, {}});
    client.setLogSink(0, &log);
    std::atomic<bool> running{true};
    Attempt a;
    a.connected =
        connectInTurn(client, hosts, port, log, 0, running, a.failText) == ConnectResult::Connected;
    a.tls = client.usesTls();
    client.disconnect();
    a.log = log.slotText(0);
    return a;
}

TEST(ConnectInTurnTest, DeadFirstExchangerThenTheNext) {
    // Nothing listens on 127.0.0.2 at the fake server's port.
    test::FakeServer server({send("220 live\r\n"), expect("HELO \r\n"), send("250 ok\r\n"),
                             expect("QUIT\r\n"), send("221 bye\r\n")});
    Attempt a = connectTo({{"dead.test", "127.0.0.2"}, {"live.test", "127.0.0.1"}}, server.port(),
                          SmtpSecurity::None);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_TRUE(a.connected);
    EXPECT_NE(a.log.find("Unable to connect"), std::string::npos);
}

TEST(ConnectInTurnTest, EveryCandidateDeadNamesTheLast) {
    Attempt a = connectTo({{"dead.test", "127.0.0.2"}}, 1, SmtpSecurity::None);
    EXPECT_FALSE(a.connected);
    EXPECT_EQ(a.failText, "Connection fail dead.test: Unable to connect to server");
}

// The server agrees to STARTTLS, then answers the handshake with text.
Script brokenTls() {
    return {send("220 mx ESMTP\r\n"), expect("EHLO \r\n"),      send("250-mx\r\n250 STARTTLS\r\n"),
            expect("STARTTLS\r\n"),   send("220 go ahead\r\n"), send("this is not TLS\r\n")};
}

TEST(ConnectInTurnTest, FailedOpportunisticTlsRetriesTheSameExchangerInClear) {
    test::FakeServer server(brokenTls() + Script{acceptNext(), send("220 mx ESMTP\r\n"),
                                                 expect("HELO \r\n"), send("250 mx\r\n"),
                                                 expect("QUIT\r\n"), send("221 bye\r\n")});
    Attempt a = connectTo({{"mx.test", "127.0.0.1"}}, server.port(), SmtpSecurity::Opportunistic);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_TRUE(a.connected);
    EXPECT_FALSE(a.tls);
    EXPECT_NE(a.log.find("Trying mx.test again without TLS"), std::string::npos);
}

TEST(ConnectInTurnTest, ChosenTlsIsNeverRetriedInClear) {
    // Four attempts, each of them with STARTTLS, none in clear text.
    Script script;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) script.push_back(acceptNext());
        script = script + brokenTls();
    }
    test::FakeServer server(script);
    Attempt a = connectTo({{"relay.test", "127.0.0.1"}}, server.port(), SmtpSecurity::StartTls);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_FALSE(a.connected);
    EXPECT_EQ(a.failText.rfind("Connection fail relay.test: Cannot start TLS", 0), 0u)
        << a.failText;
    EXPECT_EQ(a.log.find("without TLS"), std::string::npos);
}

}  // namespace
}  // namespace qm
