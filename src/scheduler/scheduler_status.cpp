#include "scheduler/scheduler_status.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/file_util.h"
#include "common/text.h"
#include "scheduler/schedule.h"

namespace qm {

namespace {

constexpr std::uint64_t kStatusReadLimit = 256ull << 20;

// A field as written. A subject or an address may hold the separator, or end in a part of it that
// the next separator completes; either would read as two fields. Such a field gets an LF between
// every two adjacent "*": with no "**" left, every "**" of the line lies inside a separator.
// Fields never hold an LF otherwise (line ends are made blanks), so the mark cannot be mistaken
// and every other field, and every older file, is written and read as before.
std::string statusField(std::string_view text) {
    std::string field = lineEndsToBlanks(text);
    const std::string sep(kStatusSeparator);
    if ((field + sep).find(sep) == field.size()) return field;
    std::string out;
    for (char c : field) {
        if (c == '*' && !out.empty() && out.back() == '*') out += '\n';
        out += c;
    }
    return out;
}

// The field read back: an LF between two "*" is the mark above.
std::string readField(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i > 0 && i + 1 < text.size() && text[i - 1] == '*' &&
            text[i + 1] == '*')
            continue;
        out += text[i];
    }
    return out;
}

}  // namespace

std::string formatStatusLine(std::string_view thread, std::string_view status,
                             std::string_view address, std::string_view subject,
                             std::time_t dueAt) {
    std::string sep(kStatusSeparator);
    return statusField(thread) + sep + statusField(status) + sep + statusField(address) + sep +
           statusField(subject) + sep + formatScheduleDate(dueAt) + "\r\n";
}

bool appendStatusLine(const std::string& path, std::string_view line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, line) == 0;
    ::close(fd);
    return ok;
}

std::vector<StatusRow> parseStatusText(std::string_view text) {
    std::vector<StatusRow> rows;
    std::size_t pos = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) break;
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 2;
        StatusRow row;
        std::string* fields[] = {&row.thread, &row.status, &row.address, &row.subject};
        std::size_t at = 0;
        bool whole = false;
        for (std::string* f : fields) {
            std::size_t cut = whole ? std::string_view::npos : line.find(kStatusSeparator, at);
            if (cut == std::string_view::npos) {
                // A short line fills what it has; the later columns stay empty.
                if (!whole) *f = readField(line.substr(at));
                whole = true;
                continue;
            }
            *f = readField(line.substr(at, cut - at));
            at = cut + kStatusSeparator.size();
        }
        if (!whole) row.scheduledDate = line.substr(at);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<StatusRow> readStatusFile(const std::string& path) {
    std::string text;
    if (!readFile(path, text, nullptr, kStatusReadLimit)) return {};
    return parseStatusText(text);
}

}  // namespace qm
