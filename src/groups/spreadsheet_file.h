// Row and column access to one sheet of a spreadsheet file, or to a delimited text file.
//
// Entry points: SpreadsheetFile::open() reads the whole sheet (or file) into memory; readCell()
// and readRow() give its cells; sheetNames() lists a file's sheets for the sheet name dialog.
//
// Modes by the file name's end, in any letter case: ".xls" (FreeXL), ".xlsx" (libzip +
// pugixml), ".ods" (libzip + pugixml) are sheets, chosen by name; anything else is text split at
// the separator the caller gives. In a sheet, row 1 holds the column names (the sheet's first
// row, as written; the caller turns "#" back into "." as it always has) and the data rows follow;
// every row has as many cells as the sheet has columns (empty cells are empty texts). Cell texts
// are as sheet_xml.h describes; .xls numbers likewise, dates as FreeXL gives them (YYYY-MM-DD).
//
// Text rule: each line is one row (LF, a CR before it dropped). A line holding a double quote,
// the separator and another double quote in a row is split at those three-part sequences, and the
// first cell's leading and the last cell's trailing quote are removed; a line without the
// separator is one cell, its surrounding quotes removed; any other line is split at the
// separator.
//
// Failure: false plus lastError(), one of the fixed texts below (each ends in a line feed) or a
// line naming the reader's problem; nothing throws and nothing is shown. A failed open leaves no
// rows.
// Limits: sheets are read in the range A1:IV65536 (sheet_xml.h); zip entries over 256 MiB
// uncompressed and text files over 1 GiB are refused.
// Threads: one object per thread.
// Standard: the file formats named in sheet_xml.h; BIFF through FreeXL.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::string_view kSheetErrorOpening = "Error in opening file\n";
inline constexpr std::string_view kSheetErrorReadingRow = "Error reading row\n";
inline constexpr std::string_view kSheetErrorRowTooLarge =
    "Desired row is greater than total number of rows in spreadsheet\n";
inline constexpr std::string_view kSheetErrorColumnZero = "Column cannot be zero\n";

enum class SheetFormat { Xls, Xlsx, Ods, Text };
SheetFormat sheetFormatOf(std::string_view path);

// The sheet names of a spreadsheet file in workbook order; false with `error` set when the file
// cannot be read (a text file has none and gives true with an empty list).
bool sheetNames(const std::string& path, std::vector<std::string>& names, std::string* error);

class SpreadsheetFile {
  public:
    // `sheetOrSeparator` is the sheet name (sheet modes) or the field separator (text mode).
    bool open(const std::string& path, std::string_view sheetOrSeparator);
    // column and row 1-based; row 0 is the current row, which does not move.
    bool readCell(std::size_t column, std::size_t row, std::string& text);
    // row 1-based, 0 for the current row; afterwards the current row is the one after it.
    bool readRow(std::size_t row, std::vector<std::string>& cells);
    void close();

    SheetFormat format() const { return format_; }
    std::size_t rowCount() const { return rows_.size(); }
    std::size_t columnCount() const { return columns_; }
    std::size_t currentRow() const { return current_; }
    const std::string& lastError() const { return error_; }

  private:
    bool fail(std::string_view text);

    SheetFormat format_ = SheetFormat::Text;
    std::vector<std::vector<std::string>> rows_;
    std::size_t columns_ = 0;
    std::size_t current_ = 1;
    std::string error_;
};

// One line of a delimited text file split by the text rule above.
std::vector<std::string> splitDelimitedLine(std::string_view line, std::string_view separator);

}  // namespace qm
