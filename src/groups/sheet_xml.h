// The XML inside .xlsx and .ods files, read into rows of cell texts.
//
// Entry points: parseSharedStrings(), parseXlsxSheets() (workbook + its relationships: the sheet
// names and their parts), parseXlsxSheet(); parseOdsSheetNames(), parseOdsSheet(). SheetRows is
// what both give: rows of cell texts, trailing empty cells and rows left out (a reader pads them).
//
// Cell texts: shared and inline strings (rich-text runs joined, phonetic runs left out); numbers
// in their shortest exact form ("42", "3.5", "0.001"); booleans "TRUE"/"FALSE"; formula results
// as cached. An .ods cell gives the text the sheet shows (its paragraphs joined by LF, text:s
// spaces and tabs restored), else its office:value.
//
// Failure: malformed XML gives false with a one-line text; nothing throws.
// Limits: kMaxSheetBytes of cell text; the range A1:IV65536 that the sheets have always been read
// through (256 columns, 65,536 rows); cells beyond it are ignored. Repeated rows and columns are
// never expanded past the last cell with content, so "a million empty rows" costs nothing. Element
// names are matched by their local part, whatever prefix a writer chose. Threads: pure functions.
// Standard: ECMA-376 (SpreadsheetML), OASIS OpenDocument 1.2 (table:table).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kMaxSheetRows = 65536;
inline constexpr std::size_t kMaxSheetColumns = 256;
// Cell text one sheet may hold in memory; a larger sheet is refused, not read in part.
inline constexpr std::size_t kMaxSheetBytes = 64u << 20;

using SheetRows = std::vector<std::vector<std::string>>;

struct XlsxSheetRef {
    std::string name;
    std::string part;  // path inside the zip, e.g. "xl/worksheets/sheet1.xml"
};

bool parseSharedStrings(std::string_view xml, std::vector<std::string>& out, std::string* error);
bool parseXlsxSheets(std::string_view workbookXml, std::string_view relsXml,
                     std::vector<XlsxSheetRef>& out, std::string* error);
bool parseXlsxSheet(std::string_view xml, const std::vector<std::string>& shared, SheetRows& out,
                    std::string* error);

bool parseOdsSheetNames(std::string_view contentXml, std::vector<std::string>& out,
                        std::string* error);
// False with an error when no table has that name.
bool parseOdsSheet(std::string_view contentXml, std::string_view name, SheetRows& out,
                   std::string* error);

// The shortest text that reads back as `value` ("42", not "42.0").
std::string formatSheetNumber(double value);

}  // namespace qm
