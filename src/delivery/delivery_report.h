// Delivery reports of the last run and the logic of the "Mail Delivery Report" screen.
//
// A report is one file per group, GroupOutput/_<group>.sbz ("<General>", the typed addresses, is
// _1.sbz): one line "address,status" + CR LF per result, appended in recording order.
//
// Entry points: appendReportLine() and, for a run, ReportAppender (under the engine's result lock),
// deleteReports() (start of an immediate run and program exit), reportGroups() and readReportRows()
// (the screen's list and grid), undeliveredListFileName() and saveUndeliveredList() (its "Save list
// of undelivered emails" command).
//
// Failure contract: appends and deletes that fail are ignored, as a missing report line is not
// worth a message; a report that cannot be read gives no rows. saveUndeliveredList() returns false
// with the group store's "Failed to save data.". Reading takes any bytes: a row is split at its
// first ",", a line without CR LF at the end of the file is ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

class Paths;

inline constexpr std::string_view kGeneralGroup = "<General>";
inline constexpr std::string_view kMsgNoUndelivered = "There were no undelivered email addresses.";
inline constexpr std::string_view kReportGridHeader = "<Email|<Status";

std::string reportPath(const Paths& paths, std::string_view group);
// "address,status" and CR LF, line ends inside either made blanks so that one result is one row.
std::string formatReportLine(std::string_view address, std::string_view status);
void appendReportLine(const Paths& paths, std::string_view group, std::string_view address,
                      std::string_view status);
void deleteReports(const Paths& paths);

// appendReportLine() for a whole run: the report of the group last written stays open, so a run
// does not pay an open and a close per result under its result lock. Lines are written at once
// (no buffering), so the file reads the same as with appendReportLine() at every moment. Not
// thread-safe: the engine calls it under its result lock.
class ReportAppender {
  public:
    ReportAppender() = default;
    ~ReportAppender() { close(); }
    ReportAppender(const ReportAppender&) = delete;
    ReportAppender& operator=(const ReportAppender&) = delete;

    void append(const Paths& paths, std::string_view group, std::string_view address,
                std::string_view status);
    void close();

  private:
    int fd_ = -1;
    std::string group_;
};

// One entry per report file in folder-listing order; "_1.sbz" is listed as "<General>".
std::vector<std::string> reportGroups(const Paths& paths);

struct ReportRow {
    std::string address;
    std::string status;
};
std::vector<ReportRow> parseReport(std::string_view content);
std::vector<ReportRow> readReportRows(const Paths& paths, std::string_view group);

// The chosen name with one trailing ".txt" removed and ".txt" added again.
std::string undeliveredListFileName(std::string_view chosen);
// Writes "address,reason" + CR LF per failure (atomically); the lists run in parallel.
bool saveUndeliveredList(const std::string& path, const std::vector<std::string>& addresses,
                         const std::vector<std::string>& reasons, std::string* message = nullptr);

}  // namespace qm
