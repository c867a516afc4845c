// Runs killed with SIGKILL at random moments and resumed, against smtp-sink: a campaign of
// 2,000 recipients on 15 threads (one message per connection, and ten), and a scheduled run
// through `scheduler run-due`. The moments are counted in messages the sink has received, not in
// time, so the kills spread over the run on any machine. After the last resume the sink must hold
// every recipient exactly once, except those reported "may have been delivered" (at most once,
// and at most one per thread per kill), and the report must list every recipient once.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "cli_run.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/run_journal.h"
#include "peer_env.h"
#include "scheduler/scheduler_status.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::peerEnv;

constexpr int kKills = 30;

std::size_t sinkFiles() {
    return listFiles(peerEnv("QM_SINK_DUMP"), "").size();
}

// The sink may write a message's file a moment after it answered: wait (with a deadline, not a
// count of tries) until it holds at least `want` since `baseline`.
void waitForSink(std::size_t baseline, std::size_t want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sinkFiles() - baseline < want && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Messages in the sink per recipient whose address ends in `domain`.
std::map<std::string, int> sinkByAddress(const std::string& domain) {
    const std::string dir = peerEnv("QM_SINK_DUMP");
    const std::string mark = "X-Rcpt-Args: <";
    std::map<std::string, int> counts;
    for (const std::string& name : listFiles(dir, "")) {
        std::string dump;
        if (!readFile(dir + "/" + name, dump)) continue;
        for (std::size_t at = dump.find(mark); at != std::string::npos;
             at = dump.find(mark, at + 1)) {
            const std::size_t from = at + mark.size();
            const std::string address = dump.substr(from, dump.find('>', from) - from);
            if (address.size() > domain.size() &&
                address.compare(address.size() - domain.size(), domain.size(), domain) == 0)
                ++counts[address];
        }
    }
    return counts;
}

struct ResumeKillTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(paths.ensureFolders());
        dir.write("body.txt", "Hello [**EMAIL**]");
        std::random_device seed;
        const unsigned s = seed();
        std::printf("kill moments seeded with %u\n", s);
        rng.seed(s);
    }
    std::string env() const {
        return "QUILLMARK_CONFIG=" + dir.file("settings.ini") + " QUILLMARK_HOME=" + dir.path();
    }
    // Starts the command line in the background, its output thrown away.
    pid_t start(const std::string& args) const {
        const std::string cmd =
            "exec env " + env() + " " + peerEnv("QM_CLI") + " " + args + " >/dev/null 2>&1";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    // `kills` distinct moments in 1..total-1 messages, in order.
    std::vector<std::size_t> moments(std::size_t total, int kills) {
        std::set<std::size_t> picked;
        std::uniform_int_distribution<std::size_t> pick(1, total - 1);
        while (picked.size() < static_cast<std::size_t>(kills)) picked.insert(pick(rng));
        return {picked.begin(), picked.end()};
    }
    // Runs `first`, then `again` after each kill, killing at each moment (counted from
    // `baseline` messages in the sink). Returns the kills that landed while the process ran.
    int killAndResume(const std::string& first, const std::string& again, std::size_t baseline,
                      const std::vector<std::size_t>& at) {
        int landed = 0;
        std::string next = first;
        for (std::size_t moment : at) {
            pid_t pid = start(next);
            bool exited = false;
            while (sinkFiles() - baseline < moment) {
                int status = 0;
                if (::waitpid(pid, &status, WNOHANG) == pid) {
                    exited = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (exited) break;  // the run finished before this moment
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            ++landed;
            next = again;
        }
        return landed;
    }

    test::TempDir dir;
    Paths paths{dir.path()};
    std::mt19937 rng;
};

class ResumeKillCampaign : public ResumeKillTest, public ::testing::WithParamInterface<int> {};

TEST_P(ResumeKillCampaign, SinkHoldsEveryRecipientOnceAfterKillsAndResumes) {
    const int perConnection = GetParam();
    const std::string domain = "@pc" + std::to_string(perConnection) + ".test";
    std::string to;
    constexpr std::size_t kTotal = 2000;
    for (std::size_t i = 0; i < kTotal; ++i)
        to += (i ? ";" : "") + std::string("r") + std::to_string(i) + domain;
    dir.write("to.txt", to);
    const std::string relay = " --server 127.0.0.1 --port " + peerEnv("QM_SINK_PORT") +
                              " --threads 15 --wait 0 --per-connection " +
                              std::to_string(perConnection);
    const std::string send =
        "send --from-name Ann --from ann@example.test --subject Resumed "
        "--text " +
        dir.file("body.txt") + " --to \"$(cat " + dir.file("to.txt") + ")\"" + relay;
    const std::size_t baseline = sinkFiles();
    const int landed = killAndResume(send, "send --resume", baseline, moments(kTotal, kKills));

    // The last resume runs to its end (unless the last kill came after the run's own end).
    if (!listJournals(paths).empty()) {
        test::CliRun last = test::runCli("send --resume", env());
        EXPECT_NE(last.output.find(std::string(kMsgFinished)), std::string::npos) << last.output;
    }
    EXPECT_TRUE(listJournals(paths).empty());

    const std::vector<ReportRow> rows = readReportRows(paths, kGeneralGroup);
    std::map<std::string, std::string> report;
    for (const ReportRow& r : rows)
        EXPECT_TRUE(report.emplace(r.address, r.status).second) << "reported twice: " << r.address;
    EXPECT_EQ(report.size(), kTotal);
    waitForSink(baseline, static_cast<std::size_t>(std::count_if(
                              report.begin(), report.end(),
                              [](const auto& r) { return r.second == kStatusSent; })));
    const std::map<std::string, int> sink = sinkByAddress(domain);
    std::size_t inDoubt = 0;
    for (const auto& [address, status] : report) {
        const auto got = sink.find(address);
        const int count = got == sink.end() ? 0 : got->second;
        if (status == kStatusMayHaveBeenDelivered) {
            ++inDoubt;
            EXPECT_LE(count, 1) << address;
        } else {
            EXPECT_EQ(status, "Sent") << address;
            EXPECT_EQ(count, 1) << address;
        }
    }
    for (const auto& [address, count] : sink) EXPECT_TRUE(report.count(address)) << address;
    EXPECT_LE(inDoubt, static_cast<std::size_t>(15 * landed));
    std::printf("%d kills landed, %zu recipients in doubt\n", landed, inDoubt);
}

INSTANTIATE_TEST_SUITE_P(PerConnection, ResumeKillCampaign, ::testing::Values(1, 10));

TEST_F(ResumeKillTest, ScheduledRunResumedByRunDue) {
    constexpr std::size_t kTotal = 300;
    const std::string domain = "@sched.test";
    std::string to;
    for (std::size_t i = 0; i < kTotal; ++i)
        to += (i ? ";" : "") + std::string("s") + std::to_string(i) + domain;
    dir.write("to.txt", to);
    test::CliRun add = test::runCli(
        "schedule add --from-name Ann --from ann@example.test --subject Scheduled --text " +
            dir.file("body.txt") + " --to \"$(cat " + dir.file("to.txt") +
            ")\" --at \"2030-01-01 10:00\"",
        env());
    ASSERT_EQ(add.status, 0) << add.output;
    const std::string runDue = "scheduler run-due --pause 0 --server 127.0.0.1 --port " +
                               peerEnv("QM_SINK_PORT") + " --now \"2030-01-01 10:01\"";
    const std::size_t baseline = sinkFiles();
    const int landed = killAndResume(runDue, runDue, baseline, moments(kTotal, 10));
    test::CliRun last = test::runCli(runDue, env());
    EXPECT_EQ(last.output.find("Failed"), std::string::npos) << last.output;

    std::map<std::string, std::string> status;
    for (const StatusRow& r : readStatusFile(paths.schedulerStatusFile()))
        EXPECT_TRUE(status.emplace(r.address, r.status).second) << "shown twice: " << r.address;
    EXPECT_EQ(status.size(), kTotal);
    waitForSink(baseline, static_cast<std::size_t>(std::count_if(
                              status.begin(), status.end(),
                              [](const auto& r) { return r.second == kStatusSent; })));
    const std::map<std::string, int> sink = sinkByAddress(domain);
    std::size_t inDoubt = 0;
    for (const auto& [address, shown] : status) {
        const auto got = sink.find(address);
        const int count = got == sink.end() ? 0 : got->second;
        if (shown == kStatusMayHaveBeenDelivered) {
            ++inDoubt;
            EXPECT_LE(count, 1) << address;
        } else {
            EXPECT_EQ(shown, "Sent") << address;
            EXPECT_EQ(count, 1) << address;
        }
    }
    EXPECT_LE(inDoubt, static_cast<std::size_t>(landed));
    std::printf("%d kills landed, %zu recipients in doubt\n", landed, inDoubt);
}

}  // namespace
}  // namespace qm
