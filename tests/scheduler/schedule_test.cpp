// The schedule: the next-date rule, the schedule file and its escape, the list's limit, the status
// file, and storing and deleting entries.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/file_util.h"
#include "config/paths.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"
#include "scheduler/schedule_store.h"
#include "scheduler/scheduler_status.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Local time throughout, in a zone with daylight saving, so "the time of day stays" is tested.
class ScheduleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz) oldTz_ = tz;
        hadTz_ = tz != nullptr;
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadTz_)
            ::setenv("TZ", oldTz_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    std::string oldTz_;
    bool hadTz_ = false;
};

std::time_t local(int y, int mo, int d, int h = 9, int mi = 30, int s = 15) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string day(std::time_t t) {
    return formatScheduleDate(t);
}

TEST_F(ScheduleTest, NextDueFollowsTheCalendarRule) {
    struct Case {
        const char* name;
        Repetition rep;
        std::time_t from;
        std::time_t want;
    } cases[] = {
        {"monthly 31 Jan, common year", Repetition::Monthly, local(2023, 1, 31), local(2023, 3, 3)},
        {"monthly 31 Jan, leap year", Repetition::Monthly, local(2024, 1, 31), local(2024, 3, 2)},
        // The rule's own leap years: 2100 counts, so February 2100 has 29 days here.
        {"monthly 31 Jan 2100", Repetition::Monthly, local(2100, 1, 31), local(2100, 3, 2)},
        {"monthly 30 Jan, common year", Repetition::Monthly, local(2023, 1, 30), local(2023, 3, 2)},
        {"monthly 31 Mar into May", Repetition::Monthly, local(2023, 3, 31), local(2023, 5, 1)},
        {"monthly 15 Dec", Repetition::Monthly, local(2023, 12, 15), local(2024, 1, 15)},
        {"monthly 31 Dec", Repetition::Monthly, local(2023, 12, 31), local(2024, 1, 31)},
        {"daily 28 Feb, common year", Repetition::Daily, local(2023, 2, 28), local(2023, 3, 1)},
        {"daily 28 Feb, leap year", Repetition::Daily, local(2024, 2, 28), local(2024, 2, 29)},
        {"daily 29 Feb", Repetition::Daily, local(2024, 2, 29), local(2024, 3, 1)},
        {"daily 31 Dec", Repetition::Daily, local(2023, 12, 31), local(2024, 1, 1)},
        {"weekly 27 Dec", Repetition::Weekly, local(2023, 12, 27), local(2024, 1, 3)},
        {"weekly 24 Feb, leap year", Repetition::Weekly, local(2024, 2, 24), local(2024, 3, 2)},
        {"weekly 10 Apr", Repetition::Weekly, local(2023, 4, 10), local(2023, 4, 17)},
        {"none", Repetition::None, local(2023, 4, 10), local(2023, 4, 10)},
        // Across the change to summer time the clock time stays 09:30:15.
        {"daily over DST", Repetition::Daily, local(2024, 3, 30), local(2024, 3, 31)},
        {"weekly over DST end", Repetition::Weekly, local(2024, 10, 25), local(2024, 11, 1)},
    };
    for (const auto& c : cases) {
        ScheduleEntry e;
        e.dueAt = c.from;
        e.repetition = c.rep;
        EXPECT_EQ(day(nextDue(e)), day(c.want)) << c.name;
    }
}

TEST_F(ScheduleTest, NextDueAtEveryMonthEnd) {
    // The last day of each month of a common and a leap year: daily gives the 1st of the next
    // month, weekly the 7th minus nothing, monthly the same day or its carry.
    const int common[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int year : {2023, 2024}) {
        for (int m = 1; m <= 12; ++m) {
            int last = common[m - 1] + (m == 2 && year == 2024 ? 1 : 0);
            int ny = m == 12 ? year + 1 : year, nm = m == 12 ? 1 : m + 1;
            ScheduleEntry e;
            e.dueAt = local(year, m, last);
            e.repetition = Repetition::Daily;
            EXPECT_EQ(day(nextDue(e)), day(local(ny, nm, 1))) << year << "-" << m << " daily";
            e.repetition = Repetition::Weekly;
            EXPECT_EQ(day(nextDue(e)), day(local(ny, nm, 7))) << year << "-" << m << " weekly";
            e.repetition = Repetition::Monthly;
            int nextLast = common[nm - 1] + (nm == 2 && ny % 4 == 0 ? 1 : 0);
            std::time_t want = last <= nextLast ? local(ny, nm, last)
                                                : local(nm == 12 ? ny + 1 : ny,
                                                        nm == 12 ? 1 : nm + 1, last - nextLast);
            EXPECT_EQ(day(nextDue(e)), day(want)) << year << "-" << m << " monthly";
        }
    }
}

TEST_F(ScheduleTest, DatesReadBackAndBadOnesAreRefused) {
    std::time_t t = local(2026, 12, 10, 7, 5, 9);
    EXPECT_EQ(formatScheduleDate(t), "10:12:2026:07:05:09");
    EXPECT_EQ(formatGridDate(t), "10/12/2026::07:05:09");
    std::time_t back = 0;
    ASSERT_TRUE(parseScheduleDate("10:12:2026:07:05:09", back));
    EXPECT_EQ(back, t);
    for (const char* bad : {"", "10:12:2026:07:05", "32:12:2026:07:05:09", "10:13:2026:07:05:09",
                            "10:12:2026:24:05:09", "aa:12:2026:07:05:09", "10:12:2026:07:05:09x",
                            "10-12-2026 07:05:09"})
        EXPECT_FALSE(parseScheduleDate(bad, back)) << bad;
}

ScheduleEntry entry(std::string subject, std::time_t due, Repetition rep = Repetition::None,
                    std::string outbox = "/x/OutBox/EmailFile1.ml") {
    ScheduleEntry e;
    e.subject = std::move(subject);
    e.savedAt = local(2026, 12, 1);
    e.dueAt = due;
    e.repetition = rep;
    e.outboxPath = std::move(outbox);
    return e;
}

TEST_F(ScheduleTest, FileRoundTripKeepsSeparatorsInSubjects) {
    const char* subjects[] = {"Plain", "a~!~b",  "~!~",   "ends ~!", "~!!~ twice ~!!!",
                              "!~!~!", "tilde~", "~~!~~", ""};
    ScheduleList list;
    int n = 0;
    for (const char* s : subjects)
        ASSERT_TRUE(list.add(entry(s, local(2027, 1, 1 + n++), Repetition::Weekly), false));
    list.at(0).outboxPath = "/odd~!~path/f.ml";
    std::string text = list.format();
    ScheduleList back;
    back.parse(text);
    ASSERT_EQ(back.count(), list.count()) << text;
    EXPECT_TRUE(back.setAside().empty());
    for (std::size_t i = 0; i < list.count(); ++i) {
        EXPECT_EQ(back.at(i).subject, list.at(i).subject);
        EXPECT_EQ(back.at(i).dueAt, list.at(i).dueAt);
        EXPECT_EQ(back.at(i).savedAt, list.at(i).savedAt);
        EXPECT_EQ(back.at(i).repetition, Repetition::Weekly);
        EXPECT_EQ(back.at(i).outboxPath, list.at(i).outboxPath);
    }
    // The line as the file holds it: seven fields, the last the next date.
    EXPECT_EQ(formatScheduleLine(entry("Hi", local(2027, 1, 31), Repetition::Monthly, "/o.ml")),
              "Hi~!~01:12:2026:09:30:15~!~31:01:2027:09:30:15~!~3~!~/o.ml~!~false~!~"
              "03:03:2027:09:30:15");
}

TEST_F(ScheduleTest, FilesWithoutEscapesReadAsBefore) {
    // A line as an earlier writer made it: a lone "~!" inside a field stays as it is, the seventh
    // field is ignored, and "true" marks a done entry.
    ScheduleList list;
    list.parse(
        "Sale ~!today~!~01:12:2026:09:30:15~!~02:12:2026:10:00:00~!~1~!~/o/a.ml~!~false~!~junk\r\n"
        "Old~!~01:12:2026:09:30:15~!~03:12:2026:10:00:00~!~9~!~/o/b.ml~!~true\r\n");
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at(0).subject, "Sale ~!today");
    EXPECT_EQ(list.at(0).repetition, Repetition::Daily);
    EXPECT_FALSE(list.at(0).done);
    EXPECT_EQ(list.at(1).repetition, Repetition::None);  // 9 is no repetition
    EXPECT_TRUE(list.at(1).done);
    EXPECT_EQ(list.format().find("Old"), std::string::npos);  // done entries are not saved
}

TEST_F(ScheduleTest, DuplicateLinesReadOnceAndBadLinesAreKeptNotLost) {
    std::string a = formatScheduleLine(entry("A", local(2027, 1, 1)));
    std::string b = formatScheduleLine(entry("B", local(2027, 1, 2)));
    ScheduleList list;
    list.parse(a + "\r\n" + b + "\r\n" + a + "\r\n\r\nnot a line\r\n" + b + "\n" +
               "X~!~bad date~!~01:01:2027:00:00:00~!~0~!~/o~!~false\r\n");
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at(0).subject, "A");
    EXPECT_EQ(list.at(1).subject, "B");
    EXPECT_EQ(list.setAside(),
              (std::vector<std::string>{"not a line",
                                        "X~!~bad date~!~01:01:2027:00:00:00~!~0~!~/o~!~false"}));
    // Written back after the entries, so a hand-edited line survives the next save.
    EXPECT_EQ(list.format(), a + "\r\n" + b + "\r\nnot a line\r\n" + list.setAside()[1] + "\r\n");
}

TEST_F(ScheduleTest, FifteenEntriesAtMost) {
    ScheduleList list;
    for (int i = 0; i < 15; ++i)
        ASSERT_TRUE(list.add(entry("S" + std::to_string(i), local(2027, 1, 20 - i)), true));
    EXPECT_FALSE(list.add(entry("16th", local(2027, 1, 1)), true));
    ASSERT_EQ(list.count(), 15u);
    EXPECT_EQ(list.at(0).subject, "S14");  // sorted, earliest first
    // A file with more lines holds the extra ones aside rather than dropping them.
    std::string text =
        list.format() + formatScheduleLine(entry("extra", local(2027, 2, 1))) + "\r\n";
    ScheduleList back;
    back.parse(text);
    EXPECT_EQ(back.count(), 15u);
    ASSERT_EQ(back.setAside().size(), 1u);
    EXPECT_EQ(back.format(), text);
}

TEST_F(ScheduleTest, LoadAndSaveGoThroughTheFile) {
    test::TempDir dir;
    ScheduleList list;
    EXPECT_FALSE(list.load(dir.file("missing.txt")));
    EXPECT_EQ(list.count(), 0u);
    EXPECT_FALSE(list.save(""));
    list.add(entry("A", local(2027, 1, 1)), true);
    ASSERT_TRUE(list.save(dir.file("Scheduler.txt")));
    ScheduleList back;
    ASSERT_TRUE(back.load(dir.file("Scheduler.txt")));
    EXPECT_EQ(back.count(), 1u);
}

TEST_F(ScheduleTest, StatusFileAppendsAndReadsBack) {
    test::TempDir dir;
    std::string path = dir.file("Scheduler_Status.txt");
    EXPECT_TRUE(readStatusFile(path).empty());
    std::time_t due = local(2026, 12, 10, 8, 0, 0);
    ASSERT_TRUE(
        appendStatusLine(path, formatStatusLine("Thread#1", "Sent", "a@x.test", "Hi", due)));
    ASSERT_TRUE(appendStatusLine(
        path, formatStatusLine("Thread#1", "Failed To Send", "b@x.test", "Two\r\nlines", due)));
    EXPECT_EQ(dir.read("Scheduler_Status.txt"),
              "Thread#1~~**~~Sent~~**~~a@x.test~~**~~Hi~~**~~10:12:2026:08:00:00\r\n"
              "Thread#1~~**~~Failed To Send~~**~~b@x.test~~**~~Two  lines~~**~~"
              "10:12:2026:08:00:00\r\n");
    auto rows = readStatusFile(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].status, "Failed To Send");
    EXPECT_EQ(rows[1].scheduledDate, "10:12:2026:08:00:00");
    // The fifth field is the rest of the line; a short line fills what it has; no tail row.
    rows = parseStatusText("a~~**~~b~~**~~c~~**~~d~~**~~e~~**~~f\r\nshort~~**~~x\r\ntail");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].scheduledDate, "e~~**~~f");
    EXPECT_EQ(rows[1].status, "x");
    EXPECT_EQ(rows[1].address, "");
}

// A subject or an address may hold the separator, or end in a part of it that the next one
// completes; each must still read back as itself, and a field with no such part is written as
// before.
TEST_F(ScheduleTest, StatusFieldsHoldingTheSeparatorReadBack) {
    std::time_t due = local(2026, 12, 10, 8, 0, 0);
    const char* texts[] = {"Sale ~~**~~ now", "a~~**",       "a~~**~", "~~**~~**~~",
                           "x***y~~**~~",     "**Bold** ~~", "*",      "~~*"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        std::string line = formatStatusLine("Thread#1", "Sent", text, text, due);
        auto rows = parseStatusText(line);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].status, "Sent");
        EXPECT_EQ(rows[0].address, text);
        EXPECT_EQ(rows[0].subject, text);
        EXPECT_EQ(rows[0].scheduledDate, "10:12:2026:08:00:00");
    }
    EXPECT_EQ(formatStatusLine("Thread#1", "Sent", "a@x.test", "**Bold**", due),
              "Thread#1~~**~~Sent~~**~~a@x.test~~**~~**Bold**~~**~~10:12:2026:08:00:00\r\n");
}

RunRequest storedRequest() {
    RunRequest r;
    r.message.senderName = "Ann";
    r.message.senderAddress = "ann@example.test";
    r.message.subject = "Later ~!~ on";
    r.message.format = MessageFormat::PlainText;
    r.message.body = "Body";
    r.typed = {"a@x.test", "b@x.test"};
    return r;
}

TEST_F(ScheduleTest, StoringWritesTheOutboxAndRefusesTheSixteenth) {
    test::TempDir dir;
    Paths paths(dir.path());
    ASSERT_TRUE(paths.ensureFolders());
    std::time_t now = local(2026, 12, 10, 7, 0, 0);
    for (int i = 0; i < 15; ++i) {
        ScheduleStoreResult r =
            storeCampaign(paths, storedRequest(), now + 3600 * (15 - i), Repetition::Daily, now);
        ASSERT_EQ(r.status, ScheduleStoreStatus::Saved);
        OutboxRun back;
        ASSERT_TRUE(readOutbox(r.entry.outboxPath, back));
        EXPECT_EQ(back.recipients, "a@x.test;b@x.test");
        EXPECT_EQ(back.subject, "Later ~!~ on");
    }
    ScheduleList list;
    list.load(paths.schedulerFile());
    ASSERT_EQ(list.count(), 15u);
    EXPECT_EQ(list.at(0).dueAt, now + 3600);  // sorted on every store
    EXPECT_EQ(list.at(0).subject, "Later ~!~ on");
    const std::size_t outboxFiles = listFiles(paths.outbox(), ".ml").size();
    EXPECT_EQ(storeCampaign(paths, storedRequest(), now + 60, Repetition::None, now).status,
              ScheduleStoreStatus::Full);
    EXPECT_EQ(listFiles(paths.outbox(), ".ml").size(), outboxFiles);  // no orphan outbox file

    // Delete: the line and the outbox file go; the rest stays in order.
    ScheduleEntry gone = list.at(3);
    ASSERT_EQ(deleteScheduled(paths, gone), ScheduleDeleteStatus::Deleted);
    EXPECT_FALSE(fileExists(gone.outboxPath));
    list.load(paths.schedulerFile());
    EXPECT_EQ(list.count(), 14u);
    EXPECT_EQ(list.find(gone.outboxPath), -1);
    EXPECT_EQ(deleteScheduled(paths, gone), ScheduleDeleteStatus::Changed);
}

TEST_F(ScheduleTest, GridRowSaysWhenTheMessageIsMissing) {
    test::TempDir dir;
    dir.write("m.ml", "x");
    ScheduleEntry e = entry("Hi", local(2027, 1, 31), Repetition::Monthly, dir.file("m.ml"));
    ScheduleRow row = scheduleRow(e);
    EXPECT_EQ(row.subject, "Hi");
    EXPECT_EQ(row.scheduledDate, "31/01/2027::09:30:15");
    EXPECT_EQ(row.repetition, "Monthly");
    EXPECT_EQ(row.nextDate, "03/03/2027::09:30:15");
    for (const char* outbox : {"error", "", "/nowhere/m.ml"}) {
        e.outboxPath = outbox;
        row = scheduleRow(e);
        EXPECT_TRUE(row.messageMissing) << outbox;
        EXPECT_EQ(row.subject, "(message missing) Hi");
    }
}

}  // namespace
}  // namespace qm
