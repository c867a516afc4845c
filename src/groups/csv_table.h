// The CSV files that address books export, read as a header row and records, and the choice of
// which column holds what.
//
// Entry points: readCsvTable() (the whole text into a CsvTable); guessCsvColumns() (the e-mail
// column and the recipient fields from the header names); findCsvColumn() (a column the user
// named, by header text or 1-based number); csvRecipient() (one record as a recipient).
//
// Rules (RFC 4180, read leniently): records end at CR LF, LF or a lone CR outside quotes; a field
// that starts with a double quote runs to the next lone quote, "" inside it is one quote, and
// separators and line breaks inside it are data; text after a closing quote up to the separator
// is kept as written. A UTF-8 byte order mark at the start is skipped. The separator is ";" when
// the header row (outside quotes) holds more semicolons than commas, else ",". Blank records are
// skipped; a record shorter than the header has empty fields for the rest.
//
// Failure: none; any bytes give a table (perhaps without records). A quote that never closes
// takes the rest of the text into its field, as spreadsheet programs do.
// Limits: kMaxCsvColumns fields per record (the rest of the record is dropped), and the table
// holds only the input's own bytes, so it never grows beyond a few times the input; the reader is
// one pass over the text (no backtracking).
// Threads: pure functions.
// Standard: RFC 4180 (with the ";" separator of European spreadsheet programs).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "groups/recipient.h"

namespace qm {

inline constexpr std::size_t kMaxCsvColumns = 1000;

struct CsvTable {
    char separator = ',';
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> records;  // without the header row
};

CsvTable readCsvTable(std::string_view text);

// The recipient fields a column can fill, besides the e-mail column.
enum class CsvField {
    Name,
    FirstName,  // joined with LastName into the name when there is no name column
    LastName,
    Title,
    Company,
    Telephone,
    Mobile,
    Fax,
    Address1,
    Address2,
    City,
    State,
    Zip,
    Country,
};
inline constexpr std::size_t kCsvFieldCount = static_cast<std::size_t>(CsvField::Country) + 1;

struct CsvColumns {
    std::optional<std::size_t> email;  // 0-based; none: no column looks like one
    std::array<std::optional<std::size_t>, kCsvFieldCount> fields{};
    // The first row holds an address where a header name would stand: a file without a header
    // row, whose first row is a recipient too.
    bool headerIsRecord = false;
    std::optional<std::size_t>& operator[](CsvField f) {
        return fields[static_cast<std::size_t>(f)];
    }
    const std::optional<std::size_t>& operator[](CsvField f) const {
        return fields[static_cast<std::size_t>(f)];
    }
};

// From the header names as the common address books write them ("E-mail Address", "E-mail 1 -
// Value", "Primary Email", "First Name", "Organization 1 - Name", "Business City", ...); when no
// header names the e-mail, the first column whose first non-empty value is an address (the header
// row's own value included: then the file has no header row, headerIsRecord).
CsvColumns guessCsvColumns(const CsvTable& table);

// A column the user named: its header text (letter case ignored) or its 1-based number.
std::optional<std::size_t> findCsvColumn(const CsvTable& table, std::string_view named);

// The record's recipient (its e-mail trimmed; empty when the record has no such field). Fields are
// cut to kMaxCsvFieldChars characters; the stored line keeps its form (groups/recipient.h).
inline constexpr std::size_t kMaxCsvFieldChars = 100;
Recipient csvRecipient(const std::vector<std::string>& record, const CsvColumns& columns);

}  // namespace qm
