// The send engine end to end against real servers: smtp-sink (ordering, skips, many threads,
// Stop), aiosmtpd (AUTH failure aborting the run, per-recipient refusals for the percentage
// question) and dnsmasq (MX mode with an unreachable exchanger).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "common/file_util.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/send_log_buffer.h"
#include "peer_env.h"
#include "scheduler/outbox.h"
#include "scheduler/scheduled_run.h"
#include "support/run_support.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using test::peerEnv;
using test::peerPort;

// Collects everything the engine reports; wait() returns once the run has ended one way or another.
class Recorder : public test::RunEndings {
  public:
    void result(const SendResult& r) override {
        std::lock_guard g(m_);
        results.push_back(r);
        cv_.notify_all();
    }
    void skipped(const Recipient& r, const std::string& group) override {
        std::lock_guard g(m_);
        skippedMembers.push_back(group + ":" + r.email);
    }
    void groupStarted(const std::string& group, std::size_t) override {
        std::lock_guard g(m_);
        started.push_back(group);
    }
    void groupUnavailable(const std::string& group, const std::string&) override {
        std::lock_guard g(m_);
        unavailable.push_back(group);
    }
    void waitForResults(std::size_t n) {
        std::unique_lock l(m_);
        cv_.wait_for(l, std::chrono::minutes(5), [&] { return results.size() >= n; });
    }
    std::vector<std::string> rows() {
        std::lock_guard g(m_);
        std::vector<std::string> out;
        for (auto& r : results)
            out.push_back(r.group + ":" + r.address + ":" + (r.sent ? "Sent" : r.text));
        return out;
    }

    std::vector<SendResult> results;
    std::vector<std::string> skippedMembers, started, unavailable;

  private:
    void ended() override { cv_.notify_all(); }
    std::condition_variable cv_;
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }
    void group(const std::string& name, const std::string& content) {
        dir.write("qm/GroupRecipients/_" + name + ".sbz", content);
    }
    RunRequest request(std::vector<std::string> typed, std::vector<std::string> groups) {
        RunRequest r = test::plainRunRequest(0, std::move(typed), std::move(groups));
        r.timeouts = SmtpTimeouts::uniform(test::kPatient);
        return r;
    }
    std::string report(const std::string& group) {
        std::string text;
        readFile(reportPath(paths, group), text);
        return text;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
    SendLogBuffer log;
    Recorder rec;
};

TEST_F(EngineTest, SinkTypedThenGroupsInOrderEachOnceSkipsAccounted) {
    group("First",
          "g1@x.test,,,,,,,,,,,,,E\r\ng1@x.test,,,,,,,,,,,,,E\r\nd@x.test,,,,,,,,,,,,,D\r\n"
          "u@x.test,,,,,,,,,,,,,U\r\nG1@x.test,,,,,,,,,,,,,E\r\n");
    group("Second", "g2@x.test,,,,,,,,,,,,,E\r\ng1@x.test,,,,,,,,,,,,,E\r\n");
    auto r = request({"t1@x.test", "t2@x.test"}, {"First", "Missing", "Second"});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
    r.delivery.threadCount = 3;
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();

    ASSERT_EQ(rec.endings, std::vector<std::string>{"finished"});
    auto rows = rec.rows();
    ASSERT_EQ(rows.size(), 6u);
    // Every typed result comes before any group result, and the groups are taken in the order
    // chosen (results of two groups may overlap at the change-over, as threads finish apart).
    EXPECT_TRUE(rows[0].starts_with("<General>:") && rows[1].starts_with("<General>:"));
    EXPECT_EQ(rec.started, (std::vector<std::string>{"First", "Second"}));
    std::multiset<std::string> got(rows.begin(), rows.end());
    EXPECT_EQ(got,
              (std::multiset<std::string>{"<General>:t1@x.test:Sent", "<General>:t2@x.test:Sent",
                                          "First:g1@x.test:Sent", "First:G1@x.test:Sent",
                                          "Second:g2@x.test:Sent", "Second:g1@x.test:Sent"}));
    EXPECT_EQ(rec.unavailable, std::vector<std::string>{"Missing"});
    EXPECT_EQ(rec.summary.sent, 6u);
    EXPECT_EQ(rec.summary.failed, 0u);
    EXPECT_EQ(rec.summary.skipped, 2u);
    EXPECT_EQ(rec.summary.unavailableGroups, std::vector<std::string>{"Missing"});
    EXPECT_EQ(unavailableGroupsText(rec.summary.unavailableGroups),
              "Not sent, because the group file could not be read: Missing.");
    EXPECT_EQ(report("<General>").size(), std::string("t1@x.test,Sent\r\n").size() * 2);
    EXPECT_NE(report("Second").find("g2@x.test,Sent\r\n"), std::string::npos);

    std::string logText;
    readFile(paths.sendLog(), logText);
    EXPECT_NE(logText.find("Recipient : g2@x.test\r\n"), std::string::npos);
    EXPECT_NE(logText.find("Missing"), std::string::npos) << "the skipped group is in the log";
    EXPECT_EQ(listFiles(peerEnv("QM_SINK_DUMP"), "").size(), 6u);
}

TEST_F(EngineTest, SinkFifteenThreadsThreeRecipientsFinishOnce) {
    auto r = request({"a@x.test", "b@x.test", "c@x.test"}, {});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
    r.delivery.threadCount = 15;
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    EXPECT_EQ(rec.endings, std::vector<std::string>{"finished"});
    EXPECT_EQ(rec.results.size(), 3u);
    EXPECT_EQ(rec.summary.sent, 3u);
    EXPECT_FALSE(run.sending());
}

TEST_F(EngineTest, SinkStopKeepsRowsSoFarAndWritesTheLog) {
    auto r = request({"a@x.test", "b@x.test", "c@x.test"}, {});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
    // The second recipient waits for the pause and for the pace, an hour at one message an hour:
    // however slow the machine, Stop comes within that wait, and a Stop that sat it out would
    // show as an hour, not as a few seconds more.
    r.delivery.waitSeconds = 5;
    r.delivery.rate = SendRate{1, RateUnit::Hour};
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    rec.waitForResults(1);
    auto before = std::chrono::steady_clock::now();
    run.stop();
    run.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::minutes(5))
        << "Stop must not sit out the wait between recipients";
    EXPECT_EQ(rec.endings, std::vector<std::string>{"stopped"});
    EXPECT_EQ(rec.results.size(), 1u);
    std::string logText;
    readFile(paths.sendLog(), logText);
    EXPECT_NE(logText.find("Recipient : "), std::string::npos);
}

// smtp-sink's own count of sessions and messages so far ("sess=3 quit=3 mesg=25").
std::pair<int, int> sinkSessionsAndMessages() {
    std::string text;
    readFile(peerEnv("QM_SINK_COUNTERS"), text);
    const std::size_t last = text.rfind("sess=");
    int sessions = -1, messages = -1;
    if (last != std::string::npos)
        std::sscanf(text.c_str() + last, "sess=%d quit=%*d mesg=%d", &sessions, &messages);
    return {sessions, messages};
}

// Kept sessions against smtp-sink, which offers PIPELINING: the sink counts one session per ten
// messages, and every recipient arrives once.
TEST_F(EngineTest, SinkKeptSessionsPipelinedCountedByTheSink) {
    std::vector<std::string> typed;
    for (int i = 0; i < 25; ++i) typed.push_back("kept-" + std::to_string(i) + "@x.test");
    auto r = request(typed, {});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
    r.delivery.perConnection = 10;
    // The sink counts a session when it ends: let the sessions of earlier tests settle first.
    // Settled means a whole second without a change (a busy machine delays the sink's writes).
    std::pair<int, int> before = sinkSessionsAndMessages();
    const auto settleBy = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int still = 0; still < 10 && std::chrono::steady_clock::now() < settleBy;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = sinkSessionsAndMessages();
        still = now == before ? still + 1 : 0;
        before = now;
    }
    const auto [sessionsBefore, messagesBefore] = before;
    const std::size_t filesBefore = listFiles(peerEnv("QM_SINK_DUMP"), "").size();
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    EXPECT_EQ(rec.summary.sent, 25u);
    // The counters are written as the sink goes; the end of the last session may still be on its
    // way. A fourth session would show up within the same wait.
    std::pair<int, int> after;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        after = sinkSessionsAndMessages();
        if (after.first - sessionsBefore >= 3 && after.second - messagesBefore >= 25) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    after = sinkSessionsAndMessages();
    EXPECT_EQ(after.first - sessionsBefore, 3) << "25 messages, 10 per connection";
    EXPECT_EQ(after.second - messagesBefore, 25);
    EXPECT_EQ(listFiles(peerEnv("QM_SINK_DUMP"), "").size() - filesBefore, 25u);
}

// Each copy names its own group in List-Unsubscribe, as its footer does; typed addresses ask for
// all groups; the one-click pair carries each recipient's address. Read back from the sink.
TEST_F(EngineTest, SinkListUnsubscribeNamesEachCopysGroup) {
    group("Spring Buyers", "lu-g1@x.test,,,,,,,,,,,,,E\r\n");
    group("Autumn", "lu-g2@x.test,,,,,,,,,,,,,E\r\n");
    auto r = request({"lu-t@x.test"}, {"Spring Buyers", "Autumn"});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
    r.message.unsubscribeAddress = "unsub@example.test";
    r.message.unsubscribeUrl = "https://example.test/u?e=[**EMAIL**]&g=[**GROUP**]";
    r.message.subject = "List-Unsubscribe check";
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    ASSERT_EQ(rec.endings, std::vector<std::string>{"finished"});

    // The sink writes a message when its connection ends.
    std::map<std::string, std::string> listHeader;  // To address -> List-Unsubscribe, unfolded
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (listHeader.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        listHeader.clear();
        const std::string dump = peerEnv("QM_SINK_DUMP");
        for (const auto& name : listFiles(dump, "")) {
            std::string text;
            if (!readFile(dump + "/" + name, text)) continue;
            // smtp-sink writes its dump with bare LF line ends.
            std::erase(text, '\r');
            if (text.find("Subject: List-Unsubscribe check") == std::string::npos) continue;
            std::size_t to = text.find("\nTo: <") + 6;
            std::size_t at = text.find("\nList-Unsubscribe: ");
            if (to < 6 || at == std::string::npos) continue;
            std::string value =
                text.substr(at + 19, text.find("\nList-Unsubscribe-Post", at) - at - 19);
            for (std::size_t fold; (fold = value.find("\n ")) != std::string::npos;)
                value.replace(fold, 2, " ");
            listHeader[text.substr(to, text.find('>', to) - to)] = value;
        }
        if (listHeader.size() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(listHeader, (std::map<std::string, std::string>{
                              {"lu-t@x.test",
                               "<mailto:unsub@example.test?subject=Unsubscribe>, "
                               "<https://example.test/u?e=lu-t%40x.test&g=>"},
                              {"lu-g1@x.test",
                               "<mailto:unsub@example.test?subject=Unsubscribe-Spring:Buyers>, "
                               "<https://example.test/u?e=lu-g1%40x.test&g=Spring%20Buyers>"},
                              {"lu-g2@x.test",
                               "<mailto:unsub@example.test?subject=Unsubscribe-Autumn>, "
                               "<https://example.test/u?e=lu-g2%40x.test&g=Autumn>"}}));
}

TEST_F(EngineTest, AioWrongPasswordAbortsWithoutAResult) {
    auto r = request({"a@x.test", "b@x.test"}, {});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_AIO_PORT"));
    r.delivery.authenticate = true;
    r.delivery.userName = "alice";
    r.delivery.password = "wrong";
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    EXPECT_EQ(rec.endings, std::vector<std::string>{"relay:Authentication Failed"});
    EXPECT_TRUE(rec.results.empty());
    EXPECT_FALSE(fileExists(paths.sendLog())) << "an aborted run does not write the log";
    EXPECT_EQ(log.slotText(1).find("wrong"), std::string::npos);
}

TEST_F(EngineTest, AioPercentageQuestionAboveEightyPercent) {
    struct Case {
        int rejected, accepted;
        bool ask;
    } cases[] = {{9, 1, true}, {8, 2, false}};
    for (const auto& c : cases) {
        Recorder local;
        std::vector<std::string> typed;
        for (int i = 0; i < c.rejected; ++i)
            typed.push_back("reject-" + std::to_string(i) + "@x.test");
        for (int i = 0; i < c.accepted; ++i) typed.push_back("ok-" + std::to_string(i) + "@x.test");
        auto r = request(typed, {});
        r.delivery.port = static_cast<unsigned>(peerPort("QM_AIO_PORT"));
        r.delivery.threadCount = 5;
        CampaignRun run(paths, log, local);
        ASSERT_TRUE(run.start(std::move(r)));
        run.wait();
        EXPECT_EQ(local.summary.failed, static_cast<size_t>(c.rejected));
        EXPECT_EQ(local.summary.askSupport, c.ask)
            << c.rejected << " of " << c.rejected + c.accepted;
        for (auto& res : local.results) {
            if (!res.sent) {
                EXPECT_EQ(res.text.rfind("Email fail <Hello>: ", 0), 0u) << res.text;
            }
        }
    }
    EXPECT_NE(supportQuestion(90).find("Nearly 90 percent of your mails could not be sent."),
              std::string::npos);
}

// Kept sessions with a login against aiosmtpd (lock-step: it offers no PIPELINING). A refused
// recipient ends its session; the others share sessions of five, each logged in once, and each
// arrives once.
TEST_F(EngineTest, AioKeptSessionsLogInOncePerSession) {
    std::vector<std::string> typed;
    for (int i = 0; i < 6; ++i) typed.push_back("keep-" + std::to_string(i) + "@x.test");
    typed.push_back("reject-keep@x.test");
    for (int i = 6; i < 11; ++i) typed.push_back("keep-" + std::to_string(i) + "@x.test");
    auto r = request(typed, {});
    r.delivery.port = static_cast<unsigned>(peerPort("QM_AIO_PORT"));
    r.delivery.authenticate = true;
    r.delivery.userName = "alice";
    r.delivery.password = "s3cret";
    r.delivery.perConnection = 5;
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    EXPECT_EQ(rec.summary.sent, 11u);
    EXPECT_EQ(rec.summary.failed, 1u);
    std::string transcript;
    readFile(paths.sendLog(), transcript);
    std::size_t logins = 0;
    for (std::size_t at = 0; (at = transcript.find("\n235 ", at)) != std::string::npos; ++at)
        ++logins;
    EXPECT_EQ(logins, 3u) << "five, then one before the refusal, then five:\n" << transcript;
    std::map<std::string, int> arrived;
    for (const auto& f : listFiles(peerEnv("QM_AIO_DIR"), ".env")) {
        std::string env;
        readFile(peerEnv("QM_AIO_DIR") + "/" + f, env);
        for (std::size_t at = 0; (at = env.find("rcpt keep-", at)) != std::string::npos; ++at)
            ++arrived[env.substr(at + 5, env.find('\n', at) - at - 5)];
    }
    EXPECT_EQ(arrived.size(), 11u);
    for (const auto& [address, times] : arrived) EXPECT_EQ(times, 1) << address;
}

TEST_F(EngineTest, AioScheduledRunRecordsEveryRecipientAndGoesOn) {
    OutboxRun stored;
    stored.senderName = "Ann";
    stored.senderAddress = "ann@example.test";
    stored.recipients = "one@x.test;reject-me@x.test;two@x.test";
    stored.subject = "Stored";
    stored.body = "Hello [**EMAIL**]";
    stored.attachments = {dir.file("gone.pdf")};  // unreadable now: left out, nothing else changes
    stored.embeddedFlags = "n";
    std::string path = writeOutbox(paths, stored, 1700000000);
    ASSERT_NE(path, kOutboxError);

    struct Case {
        const char* name;
        int port;
        std::vector<std::string> want;
    } cases[] = {
        {"relay up",
         peerPort("QM_AIO_PORT"),
         {"Thread#1,Sent,one@x.test", "Thread#1,Failed To Send,reject-me@x.test",
          "Thread#1,Sent,two@x.test"}},
        // Nobody listens on port 1: every recipient fails, and the loop still reaches the end.
        {"relay down",
         1,
         {"Thread#1,Failed To Send,one@x.test", "Thread#1,Failed To Send,reject-me@x.test",
          "Thread#1,Failed To Send,two@x.test"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        bool completed = false;
        ScheduledRun run(log);
        ScheduledRunRequest r;
        r.outboxPath = path;
        r.target.settings.mxMode = false;
        r.target.settings.server = "127.0.0.1";
        r.target.settings.port = static_cast<unsigned>(c.port);
        r.target.timeouts = SmtpTimeouts::uniform(test::kPatient);
        r.pause = std::chrono::milliseconds(0);
        r.record = [&](std::string_view label, std::string_view status, const std::string& a) {
            got.push_back(std::string(label) + "," + std::string(status) + "," + a);
        };
        r.complete = [&] { completed = true; };
        ASSERT_TRUE(run.start(std::move(r)));
        run.wait();
        EXPECT_TRUE(completed) << c.name;
        EXPECT_EQ(got, c.want) << c.name;
    }
    EXPECT_NE(log.slotText(0).find("Recipient : two@x.test"), std::string::npos);
}

TEST_F(EngineTest, DnsUnreachableExchangerOrFailedLookupIsThatRecipientsFailure) {
    dir.write("resolv.conf", "nameserver 127.0.0.1#" + peerEnv("QM_DNS_PORT") + "\n");
    ::setenv("QUILLMARK_RESOLV_CONF", dir.file("resolv.conf").c_str(), 1);
    // example.test's exchanger is mx1.example.test at 127.0.0.2, where nothing listens on 25;
    // dnsmasq refuses to answer for example.org, which is outside its zone.
    auto r = request({"a@example.test", "b@example.test", "c@example.org"}, {});
    r.delivery.mxMode = true;
    r.delivery.server.clear();
    r.timeouts = SmtpTimeouts::uniform(test::kPatient);
    CampaignRun run(paths, log, rec);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    ::unsetenv("QUILLMARK_RESOLV_CONF");
    EXPECT_EQ(rec.endings, std::vector<std::string>{"finished"});
    ASSERT_EQ(rec.results.size(), 3u);
    for (auto& res : rec.results) {
        EXPECT_FALSE(res.sent);
        if (res.address == "c@example.org") {
            EXPECT_EQ(res.text,
                      "Connection fail example.org: MX lookup failed: the DNS server reported a "
                      "failure");
        } else {
            EXPECT_EQ(res.text.rfind("Connection fail mx1.example.test: ", 0), 0u) << res.text;
        }
    }
    EXPECT_NE(report("<General>").find("a@example.test,Connection fail mx1.example.test"),
              std::string::npos);
    EXPECT_TRUE(rec.summary.askSupport);
}

}  // namespace
}  // namespace qm
