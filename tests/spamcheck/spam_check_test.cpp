// The spam check end to end: against the real SpamAssassin (local rules, a private HOME), and
// against stand-in analysers under the program folder that show the argument vector, hang, or
// fail.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "spamcheck/analyser_process.h"
#include "spamcheck/spam_check.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

CampaignMessage plainMessage(std::string subject, std::string text) {
    CampaignMessage m;
    m.senderName = "Alice Martin";
    m.senderAddress = "alice.martin@example.org";
    m.subject = std::move(subject);
    m.format = MessageFormat::PlainText;
    m.plainText = std::move(text);
    EXPECT_TRUE(checkMessage(m, true, {}).ok);
    return m;
}

// A program folder whose name holds blanks, quotes and a "$", as users' folders may.
struct Folders {
    test::TempDir tmp;
    std::string program = tmp.path() + "/my \"mail\" it's $HOME";
    Paths paths{program};
    SpamCheckSetup setup;
    Folders() {
        EXPECT_TRUE(paths.ensureFolders());
        setup.environment = {"HOME=" + tmp.path()};
    }
    // Puts a stand-in analyser where a bundled copy would be.
    void bundle(const std::string& script) {
        makeFolders(program + "/spamassassin");
        const std::string path = program + "/spamassassin/spamassassin";
        std::ofstream(path) << "#!/bin/sh\n" << script;
        ::chmod(path.c_str(), 0755);
    }
    // Private check folders left in the data root.
    std::size_t checkFolders() const {
        std::size_t n = 0;
        if (DIR* dir = ::opendir(paths.dataRoot().c_str())) {
            while (dirent* e = ::readdir(dir))
                if (std::string_view(e->d_name).starts_with("SpamCheck.")) ++n;
            ::closedir(dir);
        }
        return n;
    }
};

TEST(SpamCheckReal, SpammyMessageIsFlaggedWithScoreAndRules) {
    Folders f;
    CampaignMessage m = plainMessage(
        "FREE MONEY!!! YOU HAVE WON $1,000,000 CASH PRIZE",
        "Dear friend,\n\nCongratulations! You have been selected to receive ONE MILLION DOLLARS "
        "($1,000,000.00) cash. 100% FREE, no risk, act now! Click here to claim your prize, send "
        "your bank account details today. Viagra, cheap meds, lose weight fast, work from home "
        "and earn $5000 a week. Limited time offer, ACT NOW!!!\n");
    SpamCheckResult r = runSpamCheck(m, f.paths, f.setup);
    ASSERT_EQ(r.status, SpamCheckResult::Done) << r.message;
    EXPECT_TRUE(r.report.spam);
    EXPECT_GT(r.report.score, 0.0);
    EXPECT_TRUE(r.report.scoreLine.starts_with("Content analysis details: Your spam score is : "));
    ASSERT_GE(r.report.rows.size(), 3u);
    EXPECT_EQ(r.report.rows[0].kind, SpamRowKind::ColumnTitle);
    EXPECT_EQ(r.report.rows[2].kind, SpamRowKind::Rule);
    EXPECT_FALSE(r.report.rows[2].rule.empty());
    EXPECT_EQ(readAll(prefsFilePath(f.paths)), kDefaultPrefs);
    EXPECT_EQ(f.checkFolders(), 0u);
}

TEST(SpamCheckReal, OrdinaryMessageIsNotSpam) {
    Folders f;
    CampaignMessage m = plainMessage(
        "Minutes of Tuesday's meeting",
        "Hello Bob,\n\nattached are my notes from Tuesday. We agreed to move the review to "
        "the 14th and to ask Carol for the updated figures.\n\nBest regards,\nAlice\n");
    SpamCheckResult r = runSpamCheck(m, f.paths, f.setup);
    ASSERT_EQ(r.status, SpamCheckResult::Done) << r.message;
    EXPECT_FALSE(r.report.spam);
}

// Two checks at once on one data folder, as the window and the command line may run them: each
// answer is about its own message.
TEST(SpamCheckReal, TwoChecksAtOnceEachReadTheirOwnAnswer) {
    Folders f;
    const CampaignMessage spammy = plainMessage(
        "FREE MONEY!!! YOU HAVE WON $1,000,000 CASH PRIZE",
        "Dear friend,\n\nCongratulations! You have won ONE MILLION DOLLARS cash. 100% FREE, act "
        "now! Click here to claim your prize, send your bank account details today.\n");
    const CampaignMessage ordinary =
        plainMessage("Minutes of Tuesday's meeting",
                     "Hello Bob,\n\nattached are my notes from Tuesday.\n\nBest regards,\nAlice\n");
    SpamCheckResult a, b;
    std::thread other([&] { b = runSpamCheck(ordinary, f.paths, f.setup); });
    a = runSpamCheck(spammy, f.paths, f.setup);
    other.join();
    ASSERT_EQ(a.status, SpamCheckResult::Done) << a.message;
    ASSERT_EQ(b.status, SpamCheckResult::Done) << b.message;
    EXPECT_TRUE(a.report.spam);
    EXPECT_FALSE(b.report.spam);
    EXPECT_EQ(f.checkFolders(), 0u);
}

// The same with analysers that wait for each other before they read their message, so both
// messages are written before either is read: with one shared file both would read the second.
TEST(SpamCheckStandIn, TwoChecksAtOnceNeverShareTheirFiles) {
    Folders f;
    f.bundle(
        "touch \"$HOME/started.$$\"\n"
        "until [ \"$(ls \"$HOME\" | grep -c '^started\\.')\" -ge 2 ]; do sleep 0.01; done\n"
        "grep -q '^Subject: FREE' \"$3\" && printf 'Subject: *****SPAM***** FREE\\n\\n'\n"
        "grep '^Subject:' \"$3\" >&2\n"
        "exit 0\n");
    f.setup.limit = std::chrono::milliseconds(60000);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        for (const auto& name : listFiles(f.tmp.path(), ""))
            if (name.starts_with("started.")) removeFile(f.tmp.file(name));
        SpamCheckResult a, b;
        std::thread other(
            [&] { b = runSpamCheck(plainMessage("Notes", "text"), f.paths, f.setup); });
        a = runSpamCheck(plainMessage("FREE offer", "text"), f.paths, f.setup);
        other.join();
        ASSERT_EQ(a.status, SpamCheckResult::Done) << a.message;
        ASSERT_EQ(b.status, SpamCheckResult::Done) << b.message;
        EXPECT_TRUE(a.report.spam);
        EXPECT_FALSE(b.report.spam);
    }
    EXPECT_EQ(f.checkFolders(), 0u);
}

TEST(SpamCheckStandIn, ArgumentsPassUnchangedWithoutAShell) {
    Folders f;
    f.bundle(
        "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$HOME/args.txt\"\n"
        "cp \"$3\" \"$HOME/message.txt\"\n");
    SpamCheckResult r = runSpamCheck(plainMessage("Hi there", "text"), f.paths, f.setup);
    ASSERT_EQ(r.status, SpamCheckResult::Done) << r.message;
    EXPECT_FALSE(r.report.spam);
    const std::string data = f.paths.dataRoot();
    const std::string args = readAll(f.tmp.file("args.txt"));
    const std::string head =
        "[-L]\n[--prefs-file=" + data + "/user_prefs]\n[" + data + "/SpamCheck.";
    EXPECT_TRUE(args.starts_with(head) && args.ends_with("/Message.txt]\n") &&
                args.size() == head.size() + 6 + 14)
        << args;
    // The message file, in the check's own folder, is what a send would put after DATA; the
    // folder is gone with the check.
    EXPECT_NE(readAll(f.tmp.file("message.txt")).find("\r\nSubject: Hi there\r\n"),
              std::string::npos);
    EXPECT_EQ(f.checkFolders(), 0u);
}

TEST(SpamCheckStandIn, HangingAnalyserIsStoppedWithItsHelpers) {
    Folders f;
    const std::string pidFile = f.tmp.file("helper.pid");
    // Hangs for ten minutes: a run that waited for the helper would take that long, far beyond the
    // bound below, which no busy machine comes near.
    f.bundle("sleep 600 &\necho $! > '" + pidFile + "'\nwait\n");
    f.setup.limit = std::chrono::milliseconds(1500);
    const auto start = std::chrono::steady_clock::now();
    SpamCheckResult r = runSpamCheck(plainMessage("Hi", "text"), f.paths, f.setup);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, SpamCheckResult::TimedOut);
    EXPECT_EQ(r.message, "The spam checker gave no answer within 2 seconds and was stopped.");
    EXPECT_EQ(f.checkFolders(), 0u);
    EXPECT_LT(took, std::chrono::minutes(5));
    // The helper went with it (gone, or a zombie waiting for init to reap it). A killed process
    // ends when it is next scheduled, which on a busy machine is a while after the kill: wait for
    // it, far less long than its sleep.
    const std::string statFile = "/proc/" + std::string(trimWhite(readAll(pidFile))) + "/stat";
    auto ended = [&] {
        const std::string stat = readAll(statFile);
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(ended()) << readAll(statFile);
}

TEST(SpamCheckStandIn, CancelEndsTheWait) {
    Folders f;
    f.bundle("exec sleep 600\n");
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    SpamCheckResult r = runSpamCheck(plainMessage("Hi", "text"), f.paths, f.setup, &cancel);
    canceller.join();
    EXPECT_EQ(r.status, SpamCheckResult::Cancelled);
    EXPECT_TRUE(r.message.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
}

TEST(SpamCheckStandIn, FailuresSayWhatHappened) {
    Folders f;
    f.bundle("echo \"Can't locate Mail/SpamAssassin.pm in @INC\" >&2\nexit 2\n");
    SpamCheckResult r = runSpamCheck(plainMessage("Hi", "text"), f.paths, f.setup);
    EXPECT_EQ(r.status, SpamCheckResult::AnalyserFailed);
    EXPECT_NE(r.message.find("exit status 2"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("Mail/SpamAssassin.pm"), std::string::npos) << r.message;
    EXPECT_EQ(f.checkFolders(), 0u);

    // Not executable: the system's copy is used instead, or none is found.
    Folders g;
    g.bundle("exit 0\n");
    ::chmod((g.program + "/spamassassin/spamassassin").c_str(), 0644);
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    ::setenv("PATH", g.tmp.path().c_str(), 1);
    SpamCheckResult missing = runSpamCheck(plainMessage("Hi", "text"), g.paths, g.setup);
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(missing.status, SpamCheckResult::NotInstalled);
    EXPECT_NE(missing.message.find("apt-get install spamassassin"), std::string::npos);
}

TEST(SpamCheckStandIn, PrefsFileTheUserChangedIsKept) {
    Folders f;
    const std::string prefs = prefsFilePath(f.paths);
    std::ofstream(prefs) << "required_score 5.0\n";
    f.bundle("exit 0\n");
    runSpamCheck(plainMessage("Hi", "text"), f.paths, f.setup);
    EXPECT_EQ(readAll(prefs), "required_score 5.0\n");
}

}  // namespace
}  // namespace qm
