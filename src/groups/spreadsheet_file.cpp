#include "groups/spreadsheet_file.h"

#include <freexl.h>
#include <zip.h>

#include <algorithm>
#include <memory>

#include "common/file_util.h"
#include "common/text.h"
#include "groups/sheet_xml.h"

namespace qm {

namespace {

constexpr zip_uint64_t kMaxZipEntry = 256u << 20;

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using Zip = std::unique_ptr<zip_t, ZipCloser>;

Zip openZip(const std::string& path, std::string* error) {
    int code = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        if (error) *error = path + ": " + zip_error_strerror(&e);
        zip_error_fini(&e);
    }
    return Zip(z);
}

// One entry of the zip, read whole; false when it is missing, too large or unreadable.
bool readEntry(zip_t* z, const char* name, std::string& out, std::string* error) {
    zip_int64_t index = zip_name_locate(z, name, ZIP_FL_NOCASE);
    zip_stat_t st;
    if (index < 0 || zip_stat_index(z, index, 0, &st) != 0) {
        if (error) *error = std::string("the file has no ") + name;
        return false;
    }
    if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxZipEntry) {
        if (error) *error = std::string(name) + " is too large";
        return false;
    }
    zip_file_t* f = zip_fopen_index(z, index, 0);
    if (!f) {
        if (error) *error = std::string("cannot read ") + name + ": " + zip_strerror(z);
        return false;
    }
    out.assign(st.size, '\0');
    zip_int64_t got = zip_fread(f, out.data(), st.size);
    zip_fclose(f);
    if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) {
        if (error) *error = std::string("cannot read ") + name;
        return false;
    }
    return true;
}

bool xlsxSheets(zip_t* z, std::vector<XlsxSheetRef>& sheets, std::string* error) {
    std::string workbook, rels;
    return readEntry(z, "xl/workbook.xml", workbook, error) &&
           readEntry(z, "xl/_rels/workbook.xml.rels", rels, error) &&
           parseXlsxSheets(workbook, rels, sheets, error);
}

bool readXlsx(const std::string& path, std::string_view sheet, SheetRows& rows,
              std::string* error) {
    Zip z = openZip(path, error);
    if (!z) return false;
    std::vector<XlsxSheetRef> sheets;
    if (!xlsxSheets(z.get(), sheets, error)) return false;
    auto it = std::find_if(sheets.begin(), sheets.end(),
                           [&](const XlsxSheetRef& s) { return s.name == sheet; });
    if (it == sheets.end()) {
        if (error) *error = "no sheet named " + std::string(sheet);
        return false;
    }
    std::vector<std::string> shared;
    std::string xml;
    // A workbook without any text has no shared strings part.
    if (zip_name_locate(z.get(), "xl/sharedStrings.xml", ZIP_FL_NOCASE) >= 0 &&
        (!readEntry(z.get(), "xl/sharedStrings.xml", xml, error) ||
         !parseSharedStrings(xml, shared, error)))
        return false;
    return readEntry(z.get(), it->part.c_str(), xml, error) &&
           parseXlsxSheet(xml, shared, rows, error);
}

bool readOds(const std::string& path, std::string_view sheet, SheetRows& rows, std::string* error) {
    Zip z = openZip(path, error);
    if (!z) return false;
    std::string xml;
    return readEntry(z.get(), "content.xml", xml, error) && parseOdsSheet(xml, sheet, rows, error);
}

struct XlsCloser {
    void operator()(const void* h) const { freexl_close(h); }
};

std::string xlsCell(const void* handle, unsigned row, unsigned short col) {
    FreeXL_CellValue v;
    if (freexl_get_cell_value(handle, row, col, &v) != FREEXL_OK) return {};
    switch (v.type) {
        case FREEXL_CELL_INT:
            return std::to_string(v.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return formatSheetNumber(v.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return v.value.text_value ? v.value.text_value : "";
        default:
            return {};
    }
}

bool openXls(const std::string& path, std::unique_ptr<const void, XlsCloser>& out,
             std::string* error) {
    const void* handle = nullptr;
    int rc = freexl_open(path.c_str(), &handle);
    out.reset(handle);
    if (rc != FREEXL_OK) {
        if (error)
            *error = path + ": not a readable .xls file (FreeXL error " + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

bool xlsSheetNames(const void* handle, std::vector<std::string>& names) {
    unsigned count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) return false;
    for (unsigned i = 0; i < count && i < 65535; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) != FREEXL_OK)
            return false;
        names.emplace_back(name ? name : "");
    }
    return true;
}

bool readXls(const std::string& path, std::string_view sheet, SheetRows& rows, std::string* error) {
    std::unique_ptr<const void, XlsCloser> handle;
    if (!openXls(path, handle, error)) return false;
    std::vector<std::string> names;
    if (!xlsSheetNames(handle.get(), names)) {
        if (error) *error = path + ": the sheets cannot be listed";
        return false;
    }
    auto it = std::find(names.begin(), names.end(), sheet);
    if (it == names.end()) {
        if (error) *error = "no sheet named " + std::string(sheet);
        return false;
    }
    unsigned nrows = 0;
    unsigned short ncols = 0;
    if (freexl_select_active_worksheet(
            handle.get(), static_cast<unsigned short>(it - names.begin())) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle.get(), &nrows, &ncols) != FREEXL_OK) {
        if (error) *error = path + ": the sheet cannot be read";
        return false;
    }
    nrows = std::min<unsigned>(nrows, kMaxSheetRows);
    ncols = static_cast<unsigned short>(std::min<unsigned>(ncols, kMaxSheetColumns));
    rows.clear();
    for (unsigned r = 0; r < nrows; ++r) {
        std::vector<std::string> cells;
        for (unsigned short c = 0; c < ncols; ++c) {
            std::string text = xlsCell(handle.get(), r, c);
            if (text.empty()) continue;
            cells.resize(c + 1);
            cells[c] = std::move(text);
        }
        rows.push_back(std::move(cells));
    }
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return true;
}

}  // namespace

SheetFormat sheetFormatOf(std::string_view path) {
    std::string lower = lowerAscii(path);
    if (lower.ends_with(".xls")) return SheetFormat::Xls;
    if (lower.ends_with(".xlsx")) return SheetFormat::Xlsx;
    if (lower.ends_with(".ods")) return SheetFormat::Ods;
    return SheetFormat::Text;
}

bool sheetNames(const std::string& path, std::vector<std::string>& names, std::string* error) {
    names.clear();
    switch (sheetFormatOf(path)) {
        case SheetFormat::Text:
            return true;
        case SheetFormat::Xls: {
            std::unique_ptr<const void, XlsCloser> handle;
            if (!openXls(path, handle, error)) return false;
            if (xlsSheetNames(handle.get(), names)) return true;
            if (error) *error = path + ": the sheets cannot be listed";
            return false;
        }
        case SheetFormat::Xlsx: {
            Zip z = openZip(path, error);
            std::vector<XlsxSheetRef> sheets;
            if (!z || !xlsxSheets(z.get(), sheets, error)) return false;
            for (auto& s : sheets) names.push_back(std::move(s.name));
            return true;
        }
        case SheetFormat::Ods: {
            Zip z = openZip(path, error);
            std::string xml;
            return z && readEntry(z.get(), "content.xml", xml, error) &&
                   parseOdsSheetNames(xml, names, error);
        }
    }
    return false;
}

std::vector<std::string> splitDelimitedLine(std::string_view line, std::string_view separator) {
    std::vector<std::string> cells;
    if (separator.empty() || line.find(separator) == std::string_view::npos) {
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
            line = line.substr(1, line.size() - 2);
        cells.emplace_back(line);
        return cells;
    }
    const std::string quoted = "\"" + std::string(separator) + "\"";
    const bool isQuoted = line.find(quoted) != std::string_view::npos;
    std::string_view at = isQuoted ? std::string_view(quoted) : separator;
    std::size_t start = 0;
    while (true) {
        std::size_t end = line.find(at, start);
        if (end == std::string_view::npos) {
            cells.emplace_back(line.substr(start));
            break;
        }
        cells.emplace_back(line.substr(start, end - start));
        start = end + at.size();
    }
    if (isQuoted) {
        if (!cells.front().empty() && cells.front().front() == '"') cells.front().erase(0, 1);
        if (!cells.back().empty() && cells.back().back() == '"') cells.back().pop_back();
    }
    return cells;
}

bool SpreadsheetFile::fail(std::string_view text) {
    error_ = text;
    return false;
}

bool SpreadsheetFile::open(const std::string& path, std::string_view sheetOrSeparator) {
    close();
    error_.clear();
    format_ = sheetFormatOf(path);
    std::string error;
    bool ok = true;
    switch (format_) {
        case SheetFormat::Xls:
            ok = readXls(path, sheetOrSeparator, rows_, &error);
            break;
        case SheetFormat::Xlsx:
            ok = readXlsx(path, sheetOrSeparator, rows_, &error);
            break;
        case SheetFormat::Ods:
            ok = readOds(path, sheetOrSeparator, rows_, &error);
            break;
        case SheetFormat::Text: {
            std::string text;
            if (!readFile(path, text)) return fail(kSheetErrorOpening);
            std::size_t pos = 0;
            while (pos < text.size()) {
                std::size_t end = text.find('\n', pos);
                if (end == std::string::npos) end = text.size();
                std::string_view line(text.data() + pos, end - pos);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                rows_.push_back(splitDelimitedLine(line, sheetOrSeparator));
                pos = end + 1;
            }
            break;
        }
    }
    if (!ok) {
        rows_.clear();
        return fail(error + "\n");
    }
    for (const auto& r : rows_) columns_ = std::max(columns_, r.size());
    // A sheet's rows all have its columns; text rows keep their own lengths.
    if (format_ != SheetFormat::Text)
        for (auto& r : rows_) r.resize(columns_);
    current_ = 1;
    return true;
}

bool SpreadsheetFile::readCell(std::size_t column, std::size_t row, std::string& text) {
    text.clear();
    if (column == 0) return fail(kSheetErrorColumnZero);
    if (row == 0) row = current_;
    if (row > rows_.size()) return fail(kSheetErrorReadingRow);
    const auto& cells = rows_[row - 1];
    if (column > cells.size()) return false;
    text = cells[column - 1];
    return true;
}

bool SpreadsheetFile::readRow(std::size_t row, std::vector<std::string>& cells) {
    cells.clear();
    if (row == 0) row = current_;
    if (row > rows_.size()) return fail(kSheetErrorRowTooLarge);
    cells = rows_[row - 1];
    current_ = row + 1;
    return true;
}

void SpreadsheetFile::close() {
    rows_.clear();
    columns_ = 0;
    current_ = 1;
}

}  // namespace qm
