// The scheduler status file: one line per result of every scheduled run, appended and never
// emptied, and its reader for the "Scheduler Sent Status" screen and `schedule status`.
//
// Line: thread label, status, address, subject, the entry's dueAt at the start of its run
// ("%d:%m:%Y:%H:%M:%S"), between "~~**~~", ended by CR LF. Line breaks in a field are written as
// blanks. A field that would read as two (it holds "~~**~~", or ends in "~~**" or "~~**~") has an
// LF put between every two adjacent "*", which the reader takes out again.
//
// Entry points: formatStatusLine(), appendStatusLine(), parseStatusText() (pure, any bytes),
// readStatusFile().
// Failure: a line that cannot be appended is dropped (the result itself stands); a missing file
// reads as no rows.
// Limits: the file is read up to 256 MB; text after the last CR LF is not a row.
// Threads: each line goes out in one write(2) on an O_APPEND descriptor, so lines from two
// processes never interleave.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::string_view kStatusSeparator = "~~**~~";
// The status of a recipient that a killed run never reached (or reached without recording).
inline constexpr std::string_view kScheduledInterrupted = "Not Sent (run interrupted)";

struct StatusRow {
    std::string thread, status, address, subject, scheduledDate;
};

std::string formatStatusLine(std::string_view thread, std::string_view status,
                             std::string_view address, std::string_view subject, std::time_t dueAt);
bool appendStatusLine(const std::string& path, std::string_view line);

// One row per CR LF-terminated line: four fields cut at "~~**~~", the fifth the rest.
std::vector<StatusRow> parseStatusText(std::string_view text);
std::vector<StatusRow> readStatusFile(const std::string& path);

}  // namespace qm
