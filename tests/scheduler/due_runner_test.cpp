// The runner of due entries without a server: who may run, what a run without a message does to
// its entry, and how a killed run is closed at the next start. Sending itself is tested against
// smtp-sink (tests/integration/scheduler_integration_test.cpp).
#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/run_journal.h"
#include "delivery/send_log_buffer.h"
#include "scheduler/due_runner.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

constexpr std::time_t kDay = 24 * 3600;

struct RunnerTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }

    void schedule(std::vector<ScheduleEntry> entries) {
        ScheduleList list;
        for (auto& e : entries) list.add(e, true);
        ASSERT_TRUE(list.save(paths.schedulerFile()));
    }
    ScheduleList current() {
        ScheduleList list;
        list.load(paths.schedulerFile());
        return list;
    }
    DueRunOptions options(std::time_t now) {
        DueRunOptions o;
        o.now = [now] { return now; };
        o.target.settings.mxMode = false;
        o.target.settings.server = "127.0.0.1";
        o.target.settings.port = 1;
        o.pause = std::chrono::milliseconds(0);
        return o;
    }

    test::TempDir dir;
    Paths paths{dir.path()};
    SendLogBuffer log;
    const std::time_t now = 1800000000;
};

ScheduleEntry entry(std::string subject, std::time_t due, Repetition rep, std::string outbox) {
    ScheduleEntry e;
    e.subject = std::move(subject);
    e.savedAt = due - kDay;
    e.dueAt = due;
    e.repetition = rep;
    e.outboxPath = std::move(outbox);
    return e;
}

TEST_F(RunnerTest, AnotherRunnerHoldingTheScheduleMeansBusy) {
    schedule({entry("A", now - 60, Repetition::None, "error")});
    DueRunner runner(paths, log);
    {
        ScheduleLock other(paths, ScheduleLock::Kind::Runner, true);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(runner.runDue(options(now)).status, DueRunStatus::Busy);
        EXPECT_EQ(current().count(), 1u);
        // The file lock is a different lock: editing the schedule does not wait for a runner.
        ScheduleLock file(paths, ScheduleLock::Kind::File, true);
        EXPECT_TRUE(file.held());
    }
    DueRunSummary s = runner.runDue(options(now));
    EXPECT_EQ(s.status, DueRunStatus::Done);
    EXPECT_EQ(s.entriesRun, 1);
    EXPECT_EQ(current().count(), 0u);
}

// A stop that arrives before the run reaches its loop (Ctrl+C while `scheduler run-due` starts)
// holds: nothing is sent and the entries stay as they were.
TEST_F(RunnerTest, ACancelBeforeTheRunHolds) {
    schedule({entry("A", now - 60, Repetition::None, "error"),
              entry("B", now - 30, Repetition::Daily, "error")});
    DueRunner runner(paths, log);
    runner.cancel();
    int started = 0;
    DueRunOptions o = options(now);
    o.onEntry = [&](const ScheduleEntry&) { ++started; };
    EXPECT_EQ(runner.runDue(o).status, DueRunStatus::Cancelled);
    EXPECT_EQ(runner.runDue(o).status, DueRunStatus::Cancelled) << "and stays cancelled";
    EXPECT_EQ(started, 0);
    EXPECT_EQ(current().count(), 2u);
    EXPECT_EQ(current().at(0).dueAt, now - 60);
    EXPECT_EQ(current().at(1).dueAt, now - 30);
    EXPECT_FALSE(fileExists(DueRunner::markerPath(paths)));
}

TEST_F(RunnerTest, EntriesWithoutAMessageEndOrAdvanceAndMissedDatesAreNotMadeUp) {
    dir.write("kept.ml", "not an outbox file");
    schedule({entry("Once", now - 60, Repetition::None, "error"),
              entry("Every day", now - 10 * kDay, Repetition::Daily, dir.file("kept.ml")),
              entry("Later", now + 60, Repetition::None, "error")});
    DueRunner runner(paths, log);
    std::vector<std::string> started;
    DueRunOptions o = options(now);
    o.onEntry = [&](const ScheduleEntry& e) { started.push_back(e.subject); };
    DueRunSummary s = runner.runDue(o);
    EXPECT_EQ(s.entriesRun, 2);
    EXPECT_EQ(started, (std::vector<std::string>{"Every day", "Once"}));  // earliest first
    ScheduleList left = current();
    ASSERT_EQ(left.count(), 2u);
    EXPECT_EQ(left.at(0).subject, "Later");
    EXPECT_EQ(left.at(1).subject, "Every day");
    EXPECT_EQ(left.at(1).dueAt, now - 10 * kDay + 10 * kDay + kDay);  // next date after now
    EXPECT_TRUE(fileExists(dir.file("kept.ml")));  // a repeated entry keeps its file
    EXPECT_FALSE(fileExists(DueRunner::markerPath(paths)));
    EXPECT_EQ(runner.runDue(o).entriesRun, 0);  // nothing due any more
}

TEST_F(RunnerTest, KilledRunIsReportedThenAdvancedOnce) {
    OutboxRun stored;
    stored.senderName = "Ann";
    stored.senderAddress = "ann@example.test";
    stored.recipients = "a@x.test;b@x.test;c@x.test";
    stored.subject = "Weekly";
    stored.body = "Hi";
    std::string outbox = writeOutbox(paths, stored, now - kDay);
    ASSERT_NE(outbox, kOutboxError);
    ScheduleEntry e = entry("Weekly", now - 60, Repetition::Weekly, outbox);
    schedule({e});
    // What a runner killed after the first recipient leaves behind.
    ASSERT_TRUE(
        writeFileAtomic(DueRunner::markerPath(paths), formatScheduleLine(e) + "\r\na@x.test\r\n"));

    DueRunner runner(paths, log);
    DueRunOptions o = options(now);
    o.now = [this] { return now - 30; };  // the entry is not due again after its advance
    std::vector<std::string> rows;
    o.onResult = [&](const StatusRow& r) { rows.push_back(r.status + "," + r.address); };
    DueRunSummary s = runner.runDue(o);
    EXPECT_EQ(s.recovered, 1);
    EXPECT_EQ(s.entriesRun, 0);
    EXPECT_EQ(rows, (std::vector<std::string>{"Not Sent (run interrupted),b@x.test",
                                              "Not Sent (run interrupted),c@x.test"}));
    ASSERT_EQ(current().count(), 1u);
    EXPECT_EQ(current().at(0).dueAt, nextDue(e));
    EXPECT_FALSE(fileExists(DueRunner::markerPath(paths)));
    EXPECT_NE(dir.read("ProgramData/QMK/Scheduler_Status.txt")
                  .find("Thread#1~~**~~Not Sent (run interrupted)~~**~~b@x.test~~**~~Weekly~~**~~"),
              std::string::npos);

    // Killed after its completion was saved but before the marker went: not moved a second time.
    ASSERT_TRUE(
        writeFileAtomic(DueRunner::markerPath(paths),
                        formatScheduleLine(e) + "\r\na@x.test\r\nb@x.test\r\nc@x.test\r\n"));
    rows.clear();
    s = runner.runDue(o);
    EXPECT_EQ(s.recovered, 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(current().at(0).dueAt, nextDue(e));
}

// A run killed with a settled (its status line not yet written), b's offer started and not ended,
// c not reached (the journal as the runner leaves it): the next start shows a's result from the
// journal, reports b once as maybe delivered, offers neither again, offers c (to a relay that is
// not there, so it fails), and closes the entry like a finished run.
TEST_F(RunnerTest, KilledRunIsResumedFromItsJournal) {
    OutboxRun stored;
    stored.senderName = "Ann";
    stored.senderAddress = "ann@example.test";
    stored.recipients = "a@x.test;b@x.test;c@x.test";
    stored.subject = "Weekly";
    stored.body = "Hi";
    std::string outbox = writeOutbox(paths, stored, now - kDay);
    ASSERT_NE(outbox, kOutboxError);
    ScheduleEntry e = entry("Weekly", now - 60, Repetition::Weekly, outbox);
    schedule({e});
    {
        auto j = RunJournal::create(DueRunner::journalPath(paths), formatScheduleLine(e));
        ASSERT_TRUE(j);
        j->begin(1, {}, "a@x.test");
        j->end(1, {}, "a@x.test", JournalOutcome::Sent, 250, "Sent");
        j->begin(1, {}, "b@x.test");
    }
    ASSERT_TRUE(writeFileAtomic(DueRunner::markerPath(paths), formatScheduleLine(e) + "\r\n"));

    DueRunner runner(paths, log);
    DueRunOptions o = options(now);
    o.now = [this] { return now - 30; };
    o.target.timeouts = SmtpTimeouts::uniform(std::chrono::seconds(2));
    std::vector<std::string> rows;
    o.onResult = [&](const StatusRow& r) { rows.push_back(r.status + "," + r.address); };
    DueRunSummary s = runner.runDue(o);
    EXPECT_EQ(s.status, DueRunStatus::Done);
    EXPECT_EQ(s.recovered, 1);
    EXPECT_EQ(rows,
              (std::vector<std::string>{
                  "Sent,a@x.test", "Not Sent (may have been delivered: run interrupted),b@x.test",
                  "Failed To Send,c@x.test"}));
    ASSERT_EQ(current().count(), 1u);
    EXPECT_EQ(current().at(0).dueAt, nextDue(e));
    EXPECT_FALSE(fileExists(DueRunner::markerPath(paths)));
    EXPECT_FALSE(fileExists(DueRunner::journalPath(paths)));

    // A journal left without its marker (killed before its run began, or after it was closed)
    // sends nothing and goes.
    ASSERT_TRUE(RunJournal::create(DueRunner::journalPath(paths), formatScheduleLine(e)));
    rows.clear();
    s = runner.runDue(o);
    EXPECT_EQ(s.recovered, 0);
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(fileExists(DueRunner::journalPath(paths)));
}

}  // namespace
}  // namespace qm
