// Scheduled campaigns against smtp-sink: the runner with an injectable clock, and the command
// line's run-due started twice at once and beside the desktop program's runner. What counts is
// what the sink received: every message exactly once.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/base64.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/send_log_buffer.h"
#include "peer_env.h"
#include "scheduler/due_runner.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"
#include "scheduler/scheduler_status.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::peerEnv;
using test::peerPort;

// How many messages the sink holds for `address`; waits a little for the sink's last write.
int delivered(const std::string& address, int want) {
    const std::string dir = peerEnv("QM_SINK_DUMP");
    const std::string mark = "X-Rcpt-Args: <" + address + ">";
    int count = 0;
    // A deadline, not a count of tries: a busy machine delays the sink's writes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        count = 0;
        for (const std::string& name : listFiles(dir, "")) {
            std::string dump;
            if (readFile(dir + "/" + name, dump) && dump.find(mark) != std::string::npos) ++count;
        }
        if (count >= want || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return count;
}

std::string moment(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

struct SchedulerTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }

    std::string outbox(const std::string& subject, const std::string& recipients) {
        OutboxRun run;
        run.senderName = "Ann";
        run.senderAddress = "ann@example.test";
        run.recipients = recipients;
        run.subject = subject;
        run.body = "Hello [**EMAIL**]";
        std::string path = writeOutbox(paths, run, now);
        EXPECT_NE(path, kOutboxError);
        return path;
    }
    static ScheduleEntry entry(const std::string& subject, std::time_t due, Repetition rep,
                               const std::string& outboxPath) {
        ScheduleEntry e;
        e.subject = subject;
        e.savedAt = due - 7200;
        e.dueAt = due;
        e.repetition = rep;
        e.outboxPath = outboxPath;
        return e;
    }
    DueRunOptions options(std::time_t at) {
        DueRunOptions o;
        o.now = [at] { return at; };
        o.target.settings.mxMode = false;
        o.target.settings.server = "127.0.0.1";
        o.target.settings.port = static_cast<unsigned>(peerPort("QM_SINK_PORT"));
        o.pause = std::chrono::milliseconds(0);
        return o;
    }
    std::string cli(const std::string& args) {
        return "QUILLMARK_CONFIG=" + dir.file("settings.ini") + " QUILLMARK_HOME=" + dir.path() +
               " " + peerEnv("QM_CLI") + " " + args + " 2>&1";
    }

    test::TempDir dir;
    Paths paths{dir.path()};
    SendLogBuffer log;
    const std::time_t now = std::time(nullptr);
};

TEST_F(SchedulerTest, DueEntriesRunInOrderThenEndOrAdvance) {
    std::string once = outbox("Once", "once1@x.test;once2@x.test");
    std::string daily = outbox("Daily", "daily1@x.test");
    std::string later = outbox("Later", "later1@x.test");
    ScheduleList list;
    // Due in the past, as after days with the program closed: run at the first look.
    list.add(entry("Daily", now - 60, Repetition::Daily, daily), true);
    list.add(entry("Once", now - 3 * 86400, Repetition::None, once), true);
    list.add(entry("Later", now + 3600, Repetition::None, later), true);
    ASSERT_TRUE(list.save(paths.schedulerFile()));

    DueRunner runner(paths, log);
    DueRunSummary s = runner.runDue(options(now));
    EXPECT_EQ(s.status, DueRunStatus::Done);
    EXPECT_EQ(s.entriesRun, 2);
    auto rows = readStatusFile(paths.schedulerStatusFile());
    std::vector<std::string> got;
    for (const auto& r : rows) got.push_back(r.status + "," + r.address + "," + r.subject);
    EXPECT_EQ(got, (std::vector<std::string>{"Sent,once1@x.test,Once", "Sent,once2@x.test,Once",
                                             "Sent,daily1@x.test,Daily"}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].scheduledDate, formatScheduleDate(now - 60));  // dueAt at the start
    EXPECT_EQ(delivered("once1@x.test", 1), 1);
    EXPECT_EQ(delivered("daily1@x.test", 1), 1);
    EXPECT_EQ(delivered("later1@x.test", 0), 0);

    list.load(paths.schedulerFile());
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at(0).subject, "Later");
    EXPECT_EQ(list.at(1).subject, "Daily");
    EXPECT_EQ(list.at(1).dueAt, nextDue(entry("Daily", now - 60, Repetition::Daily, daily)));
    EXPECT_FALSE(fileExists(once));  // a None entry and its outbox file are gone
    EXPECT_TRUE(fileExists(daily));
    std::string sendLog;
    ASSERT_TRUE(readFile(paths.sendLog(), sendLog));
    EXPECT_NE(sendLog.find("Recipient : daily1@x.test"), std::string::npos);

    // A day later the Daily entry runs again, and Later with it.
    s = runner.runDue(options(nextDue(entry("Daily", now - 60, Repetition::Daily, daily)) + 1));
    EXPECT_EQ(s.entriesRun, 2);
    EXPECT_EQ(delivered("daily1@x.test", 2), 2);
    EXPECT_EQ(delivered("later1@x.test", 1), 1);
}

// Starts the command without waiting for it.
struct Started {
    FILE* pipe;
    std::string finish(int* status) {
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        int st = ::pclose(pipe);
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return out;
    }
};

TEST_F(SchedulerTest, TwoRunnersAtOnceSendEachMessageOnce) {
    dir.write("body.txt", "Hello [**EMAIL**]");
    const std::time_t at = now + 3600;
    const std::string add = "schedule add --from-name Ann --from ann@example.test --text " +
                            dir.file("body.txt") + " --at \"" + moment(at) + "\"";
    int status = 0;
    std::string out =
        Started{::popen(cli(add + " --subject First --to \"p1@x.test;p2@x.test\"").c_str(), "r")}
            .finish(&status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, "Message Saved.\n");
    out =
        Started{::popen(cli(add + " --subject Second --to q1@x.test --repeat weekly").c_str(), "r")}
            .finish(&status);
    ASSERT_EQ(status, 0) << out;

    const std::string runDue = "scheduler run-due --server 127.0.0.1 --port " +
                               peerEnv("QM_SINK_PORT") + " --now \"" + moment(at + 60) + "\"";
    // Two command-line runners started together.
    Started a{::popen(cli(runDue).c_str(), "r")};
    Started b{::popen(cli(runDue).c_str(), "r")};
    int sa = 0, sb = 0;
    std::string oa = a.finish(&sa), ob = b.finish(&sb);
    EXPECT_EQ(sa, 0) << oa;
    EXPECT_EQ(sb, 0) << ob;
    for (const char* address : {"p1@x.test", "p2@x.test", "q1@x.test"})
        EXPECT_EQ(delivered(address, 1), 1) << address << "\n" << oa << "\n" << ob;
    EXPECT_EQ(readStatusFile(paths.schedulerStatusFile()).size(), 3u);

    // The weekly entry a week on, with the desktop program's runner beside a command-line one.
    const std::time_t weekLater = nextDue(entry("Second", at, Repetition::Weekly, ""));
    Started c{::popen(cli("scheduler run-due --server 127.0.0.1 --port " + peerEnv("QM_SINK_PORT") +
                          " --now \"" + moment(weekLater + 60) + "\"")
                          .c_str(),
                      "r")};
    DueRunner window(paths, log);
    DueRunSummary s = window.runDue(options(weekLater + 60));
    int sc = 0;
    std::string oc = c.finish(&sc);
    EXPECT_EQ(sc, 0) << oc;
    EXPECT_TRUE(s.status == DueRunStatus::Done || s.status == DueRunStatus::Busy);
    EXPECT_EQ(delivered("q1@x.test", 2), 2) << oc;

    out = Started{::popen(cli("schedule list").c_str(), "r")}.finish(&status);
    EXPECT_NE(out.find("\tSecond\t"), std::string::npos) << out;
    EXPECT_EQ(out.find("First"), std::string::npos) << out;
    out = Started{::popen(cli("schedule status").c_str(), "r")}.finish(&status);
    EXPECT_NE(out.find("Thread#1\tSent\tp2@x.test\tFirst\t"), std::string::npos) << out;
}

TEST_F(SchedulerTest, RunKilledHalfWayIsResumedAndNothingIsSentTwice) {
    dir.write("body.txt", "Hello");
    const std::time_t at = now + 3600;
    int status = 0;
    std::string out =
        Started{::popen(cli("schedule add --from-name Ann --from ann@example.test --text " +
                            dir.file("body.txt") +
                            " --subject Killed --to \"k3@x.test;k2@x.test;"
                            "k1@x.test\" --repeat weekly --at \"" +
                            moment(at) + "\"")
                            .c_str(),
                        "r")}
            .finish(&status);
    ASSERT_EQ(status, 0) << out;

    // The runner is killed in its pause after the first recipient (the list is newest first).
    // At the stored pace of one message an hour that pause lasts an hour, so the kill lands in it
    // however slow the machine is.
    ::setenv("QUILLMARK_CONFIG", dir.file("settings.ini").c_str(), 1);
    ASSERT_TRUE(SettingsStore::open().write(keys::kSmtpRate, "1/h"));
    ::unsetenv("QUILLMARK_CONFIG");
    const std::string runDue = cli("scheduler run-due --server 127.0.0.1 --port " +
                                   peerEnv("QM_SINK_PORT") + " --now \"" + moment(at + 60) + "\"");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec env " + runDue + " >/dev/null").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool first = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!first && std::chrono::steady_clock::now() < deadline) {
        first = readStatusFile(paths.schedulerStatusFile()).size() == 1;
        if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(first);

    // The next start resumes the run: the recipients it never reached get the message, the one
    // it reached does not get it twice. (Without the hour-long pace, so the rest go at once.)
    ::setenv("QUILLMARK_CONFIG", dir.file("settings.ini").c_str(), 1);
    ASSERT_TRUE(SettingsStore::open().write(keys::kSmtpRate, "0"));
    ::unsetenv("QUILLMARK_CONFIG");
    out = Started{::popen(runDue.c_str(), "r")}.finish(&status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("resumed"), std::string::npos) << out;
    std::vector<std::string> got;
    for (const auto& r : readStatusFile(paths.schedulerStatusFile()))
        got.push_back(r.status + "," + r.address);
    EXPECT_EQ(got,
              (std::vector<std::string>{"Sent,k1@x.test", "Sent,k2@x.test", "Sent,k3@x.test"}));
    EXPECT_EQ(delivered("k1@x.test", 1), 1);
    EXPECT_EQ(delivered("k2@x.test", 1), 1);
    EXPECT_EQ(delivered("k3@x.test", 1), 1);
    // Closed like a finished run: the weekly entry moved on a week and keeps its message.
    ScheduleList list;
    list.load(paths.schedulerFile());
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.at(0).dueAt, nextDue(entry("Killed", at, Repetition::Weekly, "")));
    EXPECT_TRUE(fileExists(list.at(0).outboxPath));
}

// A message from one file (the sink's dump) read by Python's email package: the decoded bytes of
// the part whose Content-ID is <`id`>, or "(none)".
std::string partBytes(const std::string& dumpFile, const std::string& id) {
    const std::string cmd =
        "python3 -c 'import email,sys\n"
        "m=email.message_from_binary_file(open(sys.argv[1],\"rb\"))\n"
        "ps=[p for p in m.walk() if p[\"Content-ID\"]==\"<\"+sys.argv[2]+\">\"]\n"
        "sys.stdout.buffer.write(ps[0].get_payload(decode=True) if ps else b\"(none)\")' " +
        dumpFile + " " + id;
    std::string out;
    if (FILE* pipe = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        ::pclose(pipe);
    }
    return out;
}

std::string emlWithPicture(const std::string& subject, const std::string& picture) {
    return "From: a@example.test\r\nTo: b@example.test\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/related; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
           "<html><body><p>" +
           subject +
           "</p><img src=\"cid:pic1\"></body></html>\r\n"
           "--b1\r\nContent-Type: image/png; name=\"image001.png\"\r\n"
           "Content-Transfer-Encoding: base64\r\nContent-ID: <pic1>\r\n"
           "Content-Disposition: inline; filename=\"image001.png\"\r\n\r\n" +
           base64Encode(picture) + "\r\n--b1--\r\n";
}

// A campaign stored from an EML import keeps its picture when the next import brings another
// picture of the same name: the stored run sends the first one, and its copies go when it ends.
TEST_F(SchedulerTest, StoredCampaignSendsThePictureItWasStoredWith) {
    const std::string first = std::string("\x89PNG first picture ") + '\0' + '\xff';
    const std::string second = "\x89PNG second, other bytes";
    dir.write("a.eml", emlWithPicture("Import A", first));
    dir.write("b.eml", emlWithPicture("Import B", second));
    const std::string png = paths.emlOutput() + "/image001.png";
    const std::time_t at = now + 3600;
    int status = 0;
    std::string out =
        Started{::popen(cli("eml extract " + dir.file("a.eml")).c_str(), "r")}.finish(&status);
    ASSERT_EQ(status, 0) << out;
    out = Started{::popen(cli("schedule add --from-name Ann --from ann@example.test --subject "
                              "Pictured --to pic@x.test --html " +
                              paths.emlOutput() + "/body.html --attach " + png + " --at \"" +
                              moment(at) + "\"")
                              .c_str(),
                          "r")}
              .finish(&status);
    ASSERT_EQ(status, 0) << out;
    out = Started{::popen(cli("eml extract " + dir.file("b.eml")).c_str(), "r")}.finish(&status);
    ASSERT_EQ(status, 0) << out;
    std::string now2;
    ASSERT_TRUE(readFile(png, now2));
    ASSERT_EQ(now2, second);  // the import folder holds B's picture now

    ScheduleList list;
    list.load(paths.schedulerFile());
    ASSERT_EQ(list.count(), 1u);
    const std::string folder = outboxFilesFolder(list.at(0).outboxPath);
    out = Started{::popen(cli("scheduler run-due --server 127.0.0.1 --port " +
                              peerEnv("QM_SINK_PORT") + " --now \"" + moment(at + 60) + "\"")
                              .c_str(),
                          "r")}
              .finish(&status);
    EXPECT_EQ(status, 0) << out;
    ASSERT_EQ(delivered("pic@x.test", 1), 1);
    const std::string dump = peerEnv("QM_SINK_DUMP");
    std::string received = "(no message)", text;
    for (const std::string& name : listFiles(dump, "")) {
        if (readFile(dump + "/" + name, text) &&
            text.find("X-Rcpt-Args: <pic@x.test>") != std::string::npos) {
            received = partBytes(dump + "/" + name, "image001.png");
            break;
        }
    }
    EXPECT_EQ(received, first) << text;
    EXPECT_FALSE(fileExists(list.at(0).outboxPath));
    EXPECT_FALSE(isDirectory(folder));  // the entry ended for good: its copies are gone
}

}  // namespace
}  // namespace qm
