// Export of a loaded group: text and CSV files in three modes, and vCard 4.0 address books.
//
// Entry points: buildExportText() / exportToFile() for "Emails", "Emails And Name" and "All
// Fields"; buildVCards() / exportVCards() for the address-book export. The recipients are written
// in row order (the order of the group file).
// Fields are written as a user sees them: addresses unescaped and every 0xB8 comma stand-in turned
// back into a comma. A field that would split its line is quoted (Address 1 whenever it holds a
// comma; any field holding the separator or a line break), with inner quotes doubled.
// The vCard export writes one card per recipient in UTF-8 (stored text that is not UTF-8 is read
// as Windows-1252), text escaped and lines folded at 75 octets, as RFC 6350 asks.
//
// Failure: a file that cannot be created or written gives false and "Failed to save data." with
// the reason; nothing is announced as exported then. The file is written whole through
// writeFileAtomic, so a failed export leaves an older file as it was.
// Limits: the export is built in memory (at most 32,000 recipients).
// Threads: pure functions and one file write.
// Standard: RFC 4180 quoting, RFC 6350 (vCard 4.0).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "groups/group_store.h"
#include "groups/recipient.h"

namespace qm {

enum class ExportMode { Emails, EmailsAndName, AllFields };
enum class ExportSeparator { Enter, Comma, Semicolon, Tab, Tilde, Bar, Caret };

inline constexpr std::string_view kMsgExported = "Recipients has been successfully exported.";
inline constexpr std::string_view kMsgExportedVCard =
    "Emails successfully exported to the address book.";
inline constexpr std::string_view kMsgExportNoFile = "Please enter a filename to save data.";

std::string_view separatorText(ExportSeparator separator);
// The name a save dialog gives: ".csv" (csv) or ".txt" appended unless the typed name already
// ends in it (exact case), so "list.csv" chosen as a text file becomes "list.csv.txt".
std::string exportFileName(std::string_view typed, bool csv);

// The header is written when `csvHeader` (the output path ends in "csv", exact case).
std::string buildExportText(const std::vector<Recipient>& rows, ExportMode mode,
                            ExportSeparator separator, bool csvHeader);
// Checks the path and the separator, writes the file; the result's message says what happened.
StoreResult exportToFile(const std::vector<Recipient>& rows, const std::string& path,
                         ExportMode mode, ExportSeparator separator);

std::string buildVCards(const std::vector<Recipient>& rows);
StoreResult exportVCards(const std::vector<Recipient>& rows, const std::string& path);

}  // namespace qm
