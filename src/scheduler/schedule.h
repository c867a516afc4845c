// The schedule: campaigns stored for a later start, at most 15, each pointing at its outbox file,
// with the next-date rule of repeated campaigns and the schedule file they live in.
//
// Entry points: ScheduleEntry, ScheduleList (add/sort/load/save), nextDue(), endEntry(),
// advance(); formatScheduleDate()/parseScheduleDate() ("%d:%m:%Y:%H:%M:%S", local time);
// formatScheduleLine()/parseSchedule() (pure, the parser takes any bytes); ScheduleLock, held by
// every read-modify-write of the schedule file.
//
// File: one line per entry, CR LF, seven fields between "~!~": subject, savedAt, dueAt,
// repetition ("%d"), outbox path, "false", and the next due date (for people only; ignored when
// read). A line identical to one read before it is dropped, as is the empty line.
//
// Separator escape: inside a field, a "~" followed by a run of "!" gets one "!" more when written
// and one fewer when read, so "~!~" never occurs inside a field and a subject holding it survives.
// Files written before the escape read as before, unless a field holds "~!!" (it reads as "~!").
// CR and LF in a field become blanks: a field cannot hold a line end.
//
// Failure: load() of a missing or unreadable file gives an empty list and false; save() rewrites
// through writeFileAtomic(), so a killed writer leaves the old or the new file. Bad input loses
// nothing: a line without the six fields and readable dates, or one beyond the fifteenth entry, is
// kept aside (setAside()) and written back unchanged after the entries at the next save; it is
// neither shown nor run.
//
// Limits: 15 entries (kMaxScheduleEntries); the file is read up to 16 MB.
// Threads: a ScheduleList belongs to one thread. ScheduleLock is an flock on its own open file, so
// two locks exclude each other inside one process too.
// Standard: none; the calendar rule is the program's own (see nextDue()).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_util.h"

namespace qm {

class Paths;

inline constexpr std::size_t kMaxScheduleEntries = 15;
inline constexpr std::string_view kScheduleSeparator = "~!~";
inline constexpr std::string_view kMsgScheduleFull = "Only 15 Mails can be saved.";
inline constexpr std::string_view kMsgScheduleSaved = "Message Saved.";

enum class Repetition { None = 0, Daily = 1, Weekly = 2, Monthly = 3 };

// "None", "Daily", "Weekly", "Monthly".
std::string_view repetitionName(Repetition r);
// The stored number; anything but 1, 2 and 3 repeats never.
Repetition repetitionFromNumber(long n);

struct ScheduleEntry {
    std::string subject;
    std::time_t savedAt = 0;
    std::time_t dueAt = 0;
    Repetition repetition = Repetition::None;
    std::string outboxPath;  // or "error" when the outbox file could not be written
    bool done = false;
};

// Local time as "%d:%m:%Y:%H:%M:%S", and back (daylight saving decided by the system). The parser
// reads day, month, year, hours, minutes and seconds as numbers each ended by ":"; false when a
// number is missing or out of its range.
std::string formatScheduleDate(std::time_t t);
bool parseScheduleDate(std::string_view text, std::time_t& out);
// "%d/%m/%Y::%H:%M:%S", as the grids show dates.
std::string formatGridDate(std::time_t t);

// The next date of a repeated campaign, on dueAt's local calendar fields, time of day kept:
// Daily is the next day; Weekly is day + 7, carried into the next month past the month's last day;
// Monthly is the same day in the next month, and a day that month does not have carries into the
// month after (31 January gives 3 March, or 2 March when February has 29 days). February has 29
// days in every year divisible by 4. None gives dueAt. A date the system calendar does not have
// (29 February 2100) is normalised by mktime to the day after.
std::time_t nextDue(const ScheduleEntry& entry);
// done := true, and the entry's outbox file and its files folder are deleted ("error" and an
// empty path name no file).
void endEntry(ScheduleEntry& entry);
// dueAt := nextDue(entry).
void advance(ScheduleEntry& entry);

std::string formatScheduleLine(const ScheduleEntry& entry);
// Field escape of the file (see above), exposed for tests.
std::string escapeScheduleField(std::string_view field);
std::string unescapeScheduleField(std::string_view field);

class ScheduleList {
  public:
    std::size_t count() const { return entries_.size(); }
    ScheduleEntry& at(std::size_t i) { return entries_[i]; }
    const ScheduleEntry& at(std::size_t i) const { return entries_[i]; }
    const std::vector<ScheduleEntry>& entries() const { return entries_; }

    // False (and nothing added) when the list already holds 15 entries.
    bool add(ScheduleEntry entry, bool sort);
    // Earliest dueAt first; entries due at the same moment keep their order.
    void sortByDue();
    // The first entry whose outbox path is `path`, or -1.
    int find(std::string_view outboxPath) const;

    // Replaces the list with the file's entries, in file order. False (empty list) when the
    // path is empty or the file cannot be read.
    bool load(const std::string& path);
    void parse(std::string_view text);
    // Every entry that is not done, then the lines set aside, CR LF each.
    std::string format() const;
    bool save(const std::string& path) const;

    // Lines of the last load that are not entries of the list, in file order.
    const std::vector<std::string>& setAside() const { return setAside_; }

  private:
    std::vector<ScheduleEntry> entries_;
    std::vector<std::string> setAside_;
};

// Exclusive hold on one lock file of the data root (never deleted, so no second holder can lock a
// fresh one). Blocking by default; tryLock gives held() false at once when another holder has it.
class ScheduleLock {
  public:
    enum class Kind {
        File,    // one read-modify-write of the schedule file; held briefly
        Runner,  // one runner of due entries: pick, send, end or advance
    };
    ScheduleLock(const Paths& paths, Kind kind, bool tryLock = false);
    bool held() const { return lock_.held(); }

  private:
    FileLock lock_;
};

}  // namespace qm
