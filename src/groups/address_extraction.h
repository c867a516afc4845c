// Addresses out of a text file or a sheet, for the main window's recipients box.
//
// Entry points: extractionRefusal() says whether an extraction may start (the box holds fewer
// than 100,000 addresses); defaultSheet() is the sheet offered first; extractAddresses() reads the
// file and returns the box text with the new addresses appended.
//
// Sources: ".xls", ".xlsx", ".ods" (any letter case) are read as sheets through SpreadsheetFile,
// every cell of every row; a cell counts when the whole cell is an address (in row 1, the column
// names, "#" is read as "."). Any other file, ".csv" included, is text: its first 200,000
// characters are searched with findEmailAddresses(), so quoted cells and "Name <a@x.com>" cells
// give their addresses too.
// The box: a ";" goes after the box text unless it is empty or ends in ";", " " or ","; each
// address then follows with its ";" unless the box already held it when the extraction began, or
// this extraction added it already. "Held" means one of the box's entries (split at ";", ",",
// and white space) is exactly that address, case-sensitive: an address that is only part of a
// longer one ("ann@x.com" inside "joann@x.com") is still added.
//
// Failure: ExtractionResult's status; Failed with the sheet reader's text when the file cannot be
// read, NothingFound with kMsgNothingExtracted.
// Limits: 200,000 characters of a text file; sheets as spreadsheet_file.h says.
// Threads: extractAddresses() blocks; the caller runs it on a worker thread, clears `running` to
// stop (a sheet stops after the current cell and keeps what it found), and gets progress calls
// on that thread.
// Standard: none.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kExtractTextChars = 200000;
inline constexpr std::string_view kMsgOpeningFile = "Opening File...";
inline constexpr std::string_view kMsgNothingExtracted = "No email address can be extracted.";
// Followed by the number found so far.
inline constexpr std::string_view kMsgEmailsExtracted = "Emails extracted: ";

// kMsgTooManyAddresses when the box already holds 100,000 addresses, else nothing.
std::optional<std::string> extractionRefusal(std::string_view boxText);

inline constexpr std::string_view kSheetNameForbidden = "\\/?*[]:";
inline constexpr std::string_view kMsgEnterSheetName = "You must enter sheet name.";
// The sheet name as typed, trimmed into `name`; the message to show when it cannot be a sheet's
// name (empty, or one of kSheetNameForbidden), else nothing.
std::optional<std::string> checkSheetName(std::string_view typed, std::string& name);

// Whether `path` is read as a sheet whose name the user chooses.
bool needsSheetName(std::string_view path);
// "Sheet1" when the file has it, else its first sheet, else "Sheet1".
std::string defaultSheet(const std::vector<std::string>& names);

struct ExtractionRequest {
    std::string path;
    std::string sheet;    // sheets only; empty: defaultSheet() of the file
    std::string boxText;  // the recipients box as it stands
};

enum class ExtractionStatus { Found, NothingFound, Stopped, Failed };

struct ExtractionResult {
    ExtractionStatus status = ExtractionStatus::NothingFound;
    std::string boxText;                 // the new box text (the old one when Failed)
    std::vector<std::string> addresses;  // those appended, in order
    std::size_t found = 0;               // every address met, repeats included
    std::string message;                 // to show; empty when there is nothing to say
};

ExtractionResult extractAddresses(const ExtractionRequest& request,
                                  const std::atomic<bool>& running,
                                  const std::function<void(std::size_t found)>& progress = {});

}  // namespace qm
