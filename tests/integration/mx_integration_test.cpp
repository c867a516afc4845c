// AUTH PLAIN against aiosmtpd, and MX delivery in both exchanger orders against dnsmasq's records
// (tests/peers/dnsmasq-test.conf.in) with aiosmtpd as the one live exchanger:
//   order.test    answered localhost (20) first, dead.order.test (10, 127.0.0.2) second
//   lowlive.test  answered dead.lowlive.test (20, known to dnsmasq only) first, localhost (10)
//   amx.test      no MX, an A record 127.0.0.1
//   nullmx.test   "0 ." (null MX)
//   dnsonly.test  MX mx.dnsonly.test (127.0.0.1), both names known to dnsmasq only
// Exchangers listen on the aiosmtpd port instead of 25; nothing listens there on 127.0.0.2.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "cli_run.h"
#include "common/file_util.h"
#include "delivery/campaign_run.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_client.h"
#include "peer_env.h"
#include "support/run_support.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::peerEnv;
using test::peerPort;

struct AuthOutcome {
    bool connected;
    SmtpFailure failure;
    std::string log;
};

AuthOutcome authenticate(int port, SmtpSecurity mode, std::string_view password) {
    SendLogBuffer log;
    SmtpClient client("localhost", port);
    client.setTimeouts(SmtpTimeouts::uniform(test::kPatient));
    client.setCredentials(true, "alice", password);
    client.setSecurity({mode, true, peerEnv("QM_AIO_CERT")});
    client.setHelloDomain("client.test");
    client.setLogSink(0, &log);
    AuthOutcome o{client.connect(), client.failure(), {}};
    if (o.connected) {
        EXPECT_TRUE(client.capabilities().authPlain);
    }
    client.disconnect();
    o.log = log.slotText(0);
    return o;
}

TEST(AuthPlainTest, GoodAndWrongPasswordInClearAndAfterStartTls) {
    const int port = peerPort("QM_AIO_PORT");
    for (SmtpSecurity mode : {SmtpSecurity::None, SmtpSecurity::StartTls}) {
        SCOPED_TRACE(static_cast<int>(mode));
        AuthOutcome good = authenticate(port, mode, "s3cret");
        EXPECT_TRUE(good.connected) << good.log;
        // PLAIN carries the account in its first line: no LOGIN challenge ever comes.
        EXPECT_NE(good.log.find("235 2.7.0 Authentication successful"), std::string::npos)
            << good.log;
        EXPECT_EQ(good.log.find("334 "), std::string::npos) << good.log;

        AuthOutcome wrong = authenticate(port, mode, "s3cret-not");
        EXPECT_FALSE(wrong.connected);
        EXPECT_EQ(wrong.failure, SmtpFailure::AuthFailed);
        EXPECT_NE(wrong.log.find("535 5.7.8"), std::string::npos) << wrong.log;
        EXPECT_EQ(wrong.log.find("s3cret"), std::string::npos);
    }
}

class Results : public test::RunEndings {
  public:
    void result(const SendResult& r) override {
        std::lock_guard g(m_);
        rows[r.address] = r.sent ? "Sent" : r.text;
    }
    std::map<std::string, std::string> rows;
};

class MxOrderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(paths.ensureFolders());
        dir.write("resolv.conf", "nameserver 127.0.0.1#" + peerEnv("QM_DNS_PORT") + "\n");
        ::setenv("QUILLMARK_RESOLV_CONF", dir.file("resolv.conf").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("QUILLMARK_RESOLV_CONF"); }

    struct Run {
        std::map<std::string, std::string> rows;
        std::string log;
        std::size_t delivered;  // messages aiosmtpd stored during the run
    };
    Run send(MxOrder order, std::vector<std::string> addresses, int threads = 1) {
        const std::size_t before = storedMessages();
        RunRequest r = test::plainRunRequest(0, std::move(addresses));
        r.delivery.mxMode = true;
        r.delivery.server.clear();
        r.delivery.mxOrder = order;
        r.delivery.threadCount = threads;
        r.mxPort = peerPort("QM_AIO_PORT");
        r.mxStartTls = true;
        r.timeouts = SmtpTimeouts::uniform(test::kPatient);
        SendLogBuffer log;
        Results results;
        {
            CampaignRun run(paths, log, results);
            EXPECT_TRUE(run.start(std::move(r)));
            run.wait();
        }
        EXPECT_EQ(results.endings, std::vector<std::string>{"finished"});
        // The run writes its log to the send-log file at its end.
        std::string text;
        readFile(paths.sendLog(), text);
        return {results.rows, text, storedMessages() - before};
    }
    static std::size_t storedMessages() {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(peerEnv("QM_AIO_DIR")))
            n += e.path().extension() == ".eml";
        return n;
    }
    // MX questions dnsmasq has logged for `domain` so far.
    static int mxQueries(const std::string& domain) {
        std::ifstream in(peerEnv("QM_DNS_LOG"));
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find("query[MX] " + domain + " from") != std::string::npos;
        return n;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
};

const std::string kNullMx =
    "Connection fail nullmx.test: the domain accepts no mail (null MX record), nothing was sent";

TEST_F(MxOrderTest, AsAnsweredTakesTheFirstRecordOnly) {
    Run run = send(MxOrder::AsAnswered,
                   {"a@order.test", "b@lowlive.test", "c@amx.test", "d@nullmx.test"});
    const std::map<std::string, std::string> want = {
        // localhost answers first and takes the message; the dead one is never tried.
        {"a@order.test", "Sent"},
        // The first record answered is a name only dnsmasq knows: no preference is read.
        {"b@lowlive.test", "Connection fail dead.lowlive.test: Unable to connect to server"},
        // No MX: the bare domain, its address asked of dnsmasq like every other lookup.
        {"c@amx.test", "Sent"},
        {"d@nullmx.test", kNullMx},
    };
    EXPECT_EQ(run.rows, want);
    EXPECT_EQ(run.delivered, 2u);
    EXPECT_EQ(run.log.find("did not take the connection"), std::string::npos) << run.log;
}

// Names that only the configured DNS server knows (the system resolver, which the test cannot
// point anywhere, has never heard of them): every lookup of a run must go to that server, in
// either order, for these recipients to be reached.
TEST_F(MxOrderTest, BothOrdersAskOnlyTheConfiguredServer) {
    for (MxOrder order : {MxOrder::AsAnswered, MxOrder::ByPreference}) {
        SCOPED_TRACE(static_cast<int>(order));
        Run run = send(order, {"a@dnsonly.test", "b@amx.test"});
        const std::map<std::string, std::string> want = {{"a@dnsonly.test", "Sent"},
                                                         {"b@amx.test", "Sent"}};
        EXPECT_EQ(run.rows, want) << run.log;
        EXPECT_EQ(run.delivered, 2u);
    }
}

TEST_F(MxOrderTest, ByPreferenceTriesInOrderFallsBackToTheDomainOnceEach) {
    const int orderBefore = mxQueries("order.test");
    const int nullBefore = mxQueries("nullmx.test");
    Run run = send(MxOrder::ByPreference,
                   {"a@order.test", "b@lowlive.test", "c@amx.test", "d@nullmx.test", "e@ORDER.test",
                    "f@order.test", "g@nullmx.test"},
                   3);
    const std::map<std::string, std::string> want = {
        {"a@order.test", "Sent"},   {"b@lowlive.test", "Sent"}, {"c@amx.test", "Sent"},
        {"d@nullmx.test", kNullMx}, {"e@ORDER.test", "Sent"},   {"f@order.test", "Sent"},
        {"g@nullmx.test", kNullMx},
    };
    EXPECT_EQ(run.rows, want);
    EXPECT_EQ(run.delivered, 5u);
    // order.test: the dead exchanger (preference 10) first, localhost (20) after it.
    EXPECT_NE(run.log.find("dead.order.test did not take the connection; next: localhost"),
              std::string::npos)
        << run.log;
    EXPECT_EQ(run.log.find("lowlive.test did not take"), std::string::npos) << run.log;

    // One MX question per domain for the whole run, whatever the threads and letter case.
    int orderQueries = 0, nullQueries = 0;
    // dnsmasq writes its log a little after answering; a busy machine makes that later still.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        orderQueries = mxQueries("order.test") - orderBefore;
        nullQueries = mxQueries("nullmx.test") - nullBefore;
        if (orderQueries >= 1 && nullQueries >= 1) break;
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(mxQueries("order.test") - orderBefore, 1);
    EXPECT_EQ(mxQueries("nullmx.test") - nullBefore, 1);
}

TEST_F(MxOrderTest, CommandLineListsTheOrder) {
    const std::string env = "QUILLMARK_RESOLV_CONF=" + dir.file("resolv.conf");
    struct Case {
        std::string args;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {"dns mx order.test", 0, "localhost,dead.order.test\n"},
        {"dns mx order.test --by-preference", 0, "10 dead.order.test,20 localhost\n"},
        {"dns mx amx.test --by-preference", 0, "0 amx.test\n"},
        {"dns mx nullmx.test --by-preference", 1,
         "nullmx.test: the domain accepts no mail (null MX record), nothing was sent\n"},
    };
    for (const auto& c : cases) {
        test::CliRun run = test::runCli(c.args, env);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.output, c.output) << c.args;
    }
}

}  // namespace
}  // namespace qm
