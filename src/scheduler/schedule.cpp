#include "scheduler/schedule.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "scheduler/outbox.h"

namespace qm {

namespace {

// Fifteen lines of a few hundred bytes each; anything near this bound is not a schedule.
constexpr std::uint64_t kScheduleReadLimit = 16ull << 20;

bool isLeap(int year) {
    // The schedule's own rule: every fourth year, centuries included.
    return year % 4 == 0;
}

int daysInMonth(int month0, int year) {
    switch (month0) {
        case 1:
            return isLeap(year) ? 29 : 28;
        case 3:
        case 5:
        case 8:
        case 10:
            return 30;
        default:
            return 31;
    }
}

void nextMonth(int& month0, int& year) {
    if (++month0 == 12) {
        month0 = 0;
        ++year;
    }
}

// Adds `delta` to the length of every "!" run that follows a "~" (delta -1 only on runs of 2+).
std::string rewriteBangRuns(std::string_view field, int delta) {
    std::string out;
    out.reserve(field.size() + 4);
    std::size_t i = 0;
    while (i < field.size()) {
        out += field[i];
        if (field[i] != '~') {
            ++i;
            continue;
        }
        std::size_t run = 0;
        while (i + 1 + run < field.size() && field[i + 1 + run] == '!') ++run;
        std::size_t keep = run;
        if (delta > 0 && run > 0) keep = run + 1;
        if (delta < 0 && run > 1) keep = run - 1;
        out.append(keep, '!');
        i += 1 + run;
    }
    return out;
}

bool parseNumber(std::string_view text, std::size_t& pos, bool last, int& out) {
    std::size_t start = pos;
    long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6)
        value = value * 10 + (text[pos++] - '0');
    if (pos == start) return false;
    if (!last) {
        if (pos >= text.size() || text[pos] != ':') return false;
        ++pos;
    } else if (pos != text.size()) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

std::string formatTime(std::time_t t, const char* format) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

// The entry of one line, or false when the line lacks the six fields or readable dates.
bool parseLine(std::string_view line, ScheduleEntry& e) {
    std::string_view fields[6];
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        std::size_t end = line.find(kScheduleSeparator, pos);
        if (end == std::string_view::npos) {
            if (i < 5) return false;
            end = line.size();
        }
        fields[i] = line.substr(pos, end - pos);
        pos = end + kScheduleSeparator.size();
    }
    e = ScheduleEntry{};
    e.subject = unescapeScheduleField(fields[0]);
    if (!parseScheduleDate(fields[1], e.savedAt) || !parseScheduleDate(fields[2], e.dueAt))
        return false;
    long n = 0;
    bool digits = !fields[3].empty();
    for (char c : fields[3]) {
        if (c < '0' || c > '9' || n > 1000) {
            digits = false;
            break;
        }
        n = n * 10 + (c - '0');
    }
    e.repetition = repetitionFromNumber(digits ? n : 0);
    e.outboxPath = unescapeScheduleField(fields[4]);
    e.done = fields[5] == "true";
    return true;
}

}  // namespace

std::string_view repetitionName(Repetition r) {
    switch (r) {
        case Repetition::Daily:
            return "Daily";
        case Repetition::Weekly:
            return "Weekly";
        case Repetition::Monthly:
            return "Monthly";
        case Repetition::None:
            break;
    }
    return "None";
}

Repetition repetitionFromNumber(long n) {
    return n >= 1 && n <= 3 ? static_cast<Repetition>(n) : Repetition::None;
}

std::string formatScheduleDate(std::time_t t) {
    return formatTime(t, "%d:%m:%Y:%H:%M:%S");
}

std::string formatGridDate(std::time_t t) {
    return formatTime(t, "%d/%m/%Y::%H:%M:%S");
}

bool parseScheduleDate(std::string_view text, std::time_t& out) {
    int v[6];
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i)
        if (!parseNumber(text, pos, i == 5, v[i])) return false;
    if (v[0] < 1 || v[0] > 31 || v[1] < 1 || v[1] > 12 || v[2] < 1900 || v[2] > 9999 || v[3] > 23 ||
        v[4] > 59 || v[5] > 60)
        return false;
    std::tm tm{};
    tm.tm_mday = v[0];
    tm.tm_mon = v[1] - 1;
    tm.tm_year = v[2] - 1900;
    tm.tm_hour = v[3];
    tm.tm_min = v[4];
    tm.tm_sec = v[5];
    tm.tm_isdst = -1;
    out = std::mktime(&tm);
    return true;
}

std::time_t nextDue(const ScheduleEntry& entry) {
    std::tm tm{};
    localtime_r(&entry.dueAt, &tm);
    int day = tm.tm_mday, month = tm.tm_mon, year = tm.tm_year + 1900;
    const int days = daysInMonth(month, year);
    switch (entry.repetition) {
        case Repetition::None:
            return entry.dueAt;
        case Repetition::Daily:
            if (day == days) {
                day = 1;
                nextMonth(month, year);
            } else {
                ++day;
            }
            break;
        case Repetition::Weekly:
            if (day + 7 > days) {
                day = day + 7 - days;
                nextMonth(month, year);
            } else {
                day += 7;
            }
            break;
        case Repetition::Monthly: {
            nextMonth(month, year);
            const int next = daysInMonth(month, year);
            if (day > next) {
                day -= next;
                nextMonth(month, year);
            }
            break;
        }
    }
    std::tm out{};
    out.tm_mday = day;
    out.tm_mon = month;
    out.tm_year = year - 1900;
    out.tm_hour = tm.tm_hour;
    out.tm_min = tm.tm_min;
    out.tm_sec = tm.tm_sec;
    out.tm_isdst = -1;
    return std::mktime(&out);
}

void endEntry(ScheduleEntry& entry) {
    entry.done = true;
    // "error" is what a failed outbox write leaves: no file of that name belongs to the entry.
    if (entry.outboxPath.empty() || entry.outboxPath == "error") return;
    removeFile(entry.outboxPath);
    // The entry's own copies of its files; a run stored by an older version has none.
    removeOutboxFiles(entry.outboxPath);
}

void advance(ScheduleEntry& entry) {
    entry.dueAt = nextDue(entry);
}

std::string escapeScheduleField(std::string_view field) {
    return rewriteBangRuns(lineEndsToBlanks(field), +1);
}

std::string unescapeScheduleField(std::string_view field) {
    return rewriteBangRuns(field, -1);
}

std::string formatScheduleLine(const ScheduleEntry& e) {
    std::string sep(kScheduleSeparator);
    return escapeScheduleField(e.subject) + sep + formatScheduleDate(e.savedAt) + sep +
           formatScheduleDate(e.dueAt) + sep + std::to_string(static_cast<int>(e.repetition)) +
           sep + escapeScheduleField(e.outboxPath) + sep + (e.done ? "true" : "false") + sep +
           formatScheduleDate(nextDue(e));
}

bool ScheduleList::add(ScheduleEntry entry, bool sort) {
    if (entries_.size() >= kMaxScheduleEntries) return false;
    entries_.push_back(std::move(entry));
    if (sort) sortByDue();
    return true;
}

void ScheduleList::sortByDue() {
    std::stable_sort(
        entries_.begin(), entries_.end(),
        [](const ScheduleEntry& a, const ScheduleEntry& b) { return a.dueAt < b.dueAt; });
}

int ScheduleList::find(std::string_view outboxPath) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].outboxPath == outboxPath) return static_cast<int>(i);
    return -1;
}

void ScheduleList::parse(std::string_view text) {
    entries_.clear();
    setAside_.clear();
    std::unordered_set<std::string_view> seen;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || !seen.insert(line).second) continue;
        ScheduleEntry e;
        if (entries_.size() < kMaxScheduleEntries && parseLine(line, e))
            entries_.push_back(std::move(e));
        else
            setAside_.emplace_back(line);
    }
}

bool ScheduleList::load(const std::string& path) {
    entries_.clear();
    setAside_.clear();
    std::string text;
    if (path.empty() || !readFile(path, text, nullptr, kScheduleReadLimit)) return false;
    parse(text);
    return true;
}

std::string ScheduleList::format() const {
    std::string out;
    for (const ScheduleEntry& e : entries_)
        if (!e.done) out += formatScheduleLine(e) + "\r\n";
    for (const std::string& line : setAside_) out += line + "\r\n";
    return out;
}

bool ScheduleList::save(const std::string& path) const {
    if (path.empty()) return false;
    return writeFileAtomic(path, format());
}

namespace {
std::string scheduleLockPath(const Paths& paths, ScheduleLock::Kind kind) {
    makeFolders(paths.dataRoot());
    return paths.dataRoot() +
           (kind == ScheduleLock::Kind::File ? "/Scheduler.lock" : "/SchedulerRunner.lock");
}
}  // namespace

ScheduleLock::ScheduleLock(const Paths& paths, Kind kind, bool tryLock)
    : lock_(scheduleLockPath(paths, kind), FileLock::Mode::Exclusive,
            tryLock ? FileLock::Wait::No : FileLock::Wait::Yes) {}

}  // namespace qm
