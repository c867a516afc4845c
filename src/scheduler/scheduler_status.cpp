#include "scheduler/scheduler_status.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/file_util.h"
#include "common/text.h"
#include "scheduler/schedule.h"

namespace qm {

namespace {

constexpr std::uint64_t kStatusReadLimit = 256ull << 20;

}  // namespace

std::string formatStatusLine(std::string_view thread, std::string_view status,
                             std::string_view address, std::string_view subject,
                             std::time_t dueAt) {
    std::string sep(kStatusSeparator);
    return lineEndsToBlanks(thread) + sep + lineEndsToBlanks(status) + sep +
           lineEndsToBlanks(address) + sep + lineEndsToBlanks(subject) + sep +
           formatScheduleDate(dueAt) + "\r\n";
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
                if (!whole) *f = line.substr(at);
                whole = true;
                continue;
            }
            *f = line.substr(at, cut - at);
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
