#include "groups/sheet_xml.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

namespace qm {

namespace {

// The local part of an element or attribute name ("x:sheet" -> "sheet").
std::string_view localName(const char* name) {
    std::string_view n(name);
    auto colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

bool is(const pugi::xml_node& node, std::string_view local) {
    return node.type() == pugi::node_element && localName(node.name()) == local;
}

pugi::xml_attribute attr(const pugi::xml_node& node, std::string_view local) {
    for (pugi::xml_attribute a : node.attributes())
        if (localName(a.name()) == local) return a;
    return {};
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view local) {
    for (pugi::xml_node c : node.children())
        if (is(c, local)) return c;
    return {};
}

bool load(pugi::xml_document& doc, std::string_view xml, std::string* error) {
    // Whitespace-only text stays (a cell of spaces); no DTD, so no entity can expand.
    pugi::xml_parse_result r =
        doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r) {
        if (error) *error = std::string("malformed XML: ") + r.description();
        return false;
    }
    return true;
}

// What one sheet may hold in memory: a small file can repeat one long text in every cell.
struct Budget {
    std::size_t bytes = 0;
    bool spent = false;
    bool take(std::size_t n) {
        bytes += n + sizeof(std::string);
        if (bytes > kMaxSheetBytes) spent = true;
        return !spent;
    }
};

// Puts `text` at (row, col), growing the rows only as far as needed; empty texts add nothing.
void put(SheetRows& rows, Budget& budget, std::size_t row, std::size_t col, std::string text) {
    if (text.empty() || row >= kMaxSheetRows || col >= kMaxSheetColumns) return;
    if (!budget.take(text.size())) return;
    if (rows.size() <= row) rows.resize(row + 1);
    auto& cells = rows[row];
    if (cells.size() <= col) cells.resize(col + 1);
    cells[col] = std::move(text);
}

bool tooLarge(const Budget& budget, std::string* error) {
    if (!budget.spent) return true;
    if (error) *error = "the sheet holds more text than can be read at once";
    return false;
}

// "B12" -> column 1, row 11. False when the reference is malformed or out of range.
bool parseCellRef(std::string_view ref, std::size_t& row, std::size_t& col) {
    std::size_t i = 0, c = 0, r = 0;
    while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])) && c <= 100000) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == ref.size()) return false;
    for (; i < ref.size(); ++i) {
        if (ref[i] < '0' || ref[i] > '9' || r > 100000000) return false;
        r = r * 10 + (ref[i] - '0');
    }
    if (r == 0) return false;
    row = r - 1;
    col = c - 1;
    return true;
}

std::size_t parseCount(const char* text, std::size_t fallback, std::size_t max) {
    if (!text || !*text) return fallback;
    std::size_t n = 0;
    auto [end, ec] = std::from_chars(text, text + std::strlen(text), n);
    if (ec != std::errc() || n == 0) return fallback;
    return n > max ? max : n;
}

// The text of a string item: its own <t>, or its rich-text runs; phonetic runs are not text.
std::string stringItem(const pugi::xml_node& si) {
    std::string out;
    for (pugi::xml_node c : si.children()) {
        if (is(c, "t")) {
            out += c.text().get();
        } else if (is(c, "r")) {
            for (pugi::xml_node t : c.children())
                if (is(t, "t")) out += t.text().get();
        }
    }
    return out;
}

std::string numberText(const char* raw) {
    std::string_view v(raw);
    double d = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(d)) return std::string(v);
    return formatSheetNumber(d);
}

// Joins a path inside the zip to the folder of the workbook ("xl/").
std::string partPath(std::string_view target) {
    if (!target.empty() && target.front() == '/') return std::string(target.substr(1));
    std::string base = "xl/";
    while (target.substr(0, 3) == "../") {
        target.remove_prefix(3);
        base.clear();
    }
    return base + std::string(target);
}

// The text an .ods cell shows: paragraphs joined by LF; text:s, text:tab, text:line-break kept.
void odsText(const pugi::xml_node& node, std::string& out, int depth) {
    if (depth > 64) return;
    for (pugi::xml_node c : node.children()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
            out += c.value();
        } else if (is(c, "s")) {
            out.append(parseCount(attr(c, "c").value(), 1, 1024), ' ');
        } else if (is(c, "tab")) {
            out += '\t';
        } else if (is(c, "line-break")) {
            out += '\n';
        } else if (c.type() == pugi::node_element && !is(c, "annotation")) {
            odsText(c, out, depth + 1);
        }
    }
}

std::string odsCell(const pugi::xml_node& cell) {
    std::string out;
    bool first = true;
    for (pugi::xml_node p : cell.children()) {
        if (!is(p, "p")) continue;
        if (!first) out += '\n';
        first = false;
        odsText(p, out, 0);
    }
    if (first) {
        if (auto v = attr(cell, "value")) return numberText(v.value());
        if (auto v = attr(cell, "boolean-value"))
            return std::string(v.value()) == "true" ? "TRUE" : "FALSE";
        if (auto v = attr(cell, "date-value")) return v.value();
        if (auto v = attr(cell, "time-value")) return v.value();
        if (auto v = attr(cell, "string-value")) return v.value();
    }
    return out;
}

// Every table:table of the document, wherever the writer nested it.
template <typename F>
void forEachTable(const pugi::xml_node& node, F&& visit, int depth = 0) {
    if (depth > 16) return;
    for (pugi::xml_node c : node.children()) {
        if (is(c, "table")) {
            visit(c);
        } else if (c.type() == pugi::node_element) {
            forEachTable(c, visit, depth + 1);
        }
    }
}

// The rows of one table; table:table-row may sit inside row groups and header rows.
void odsRows(const pugi::xml_node& node, SheetRows& out, Budget& budget, std::size_t& row,
             int depth) {
    if (depth > 16 || budget.spent) return;
    for (pugi::xml_node r : node.children()) {
        if (row >= kMaxSheetRows) return;
        if (is(r, "table-row")) {
            std::size_t repeat =
                parseCount(attr(r, "number-rows-repeated").value(), 1, kMaxSheetRows);
            std::vector<std::string> cells;
            std::size_t col = 0, rowBytes = 0;
            bool any = false;
            for (pugi::xml_node c : r.children()) {
                if (!is(c, "table-cell") && !is(c, "covered-table-cell")) continue;
                if (col >= kMaxSheetColumns) break;
                std::size_t n =
                    parseCount(attr(c, "number-columns-repeated").value(), 1, kMaxSheetColumns);
                std::string text = odsCell(c);
                if (!text.empty()) {
                    any = true;
                    for (std::size_t k = 0; k < n && col + k < kMaxSheetColumns; ++k) {
                        if (!budget.take(text.size())) break;
                        rowBytes += text.size() + sizeof(std::string);
                        if (cells.size() <= col + k) cells.resize(col + k + 1);
                        cells[col + k] = text;
                    }
                }
                col += n;
            }
            if (any) {
                for (std::size_t k = 0; k < repeat && row + k < kMaxSheetRows; ++k) {
                    if (k > 0 && !budget.take(rowBytes)) break;
                    if (out.size() <= row + k) out.resize(row + k + 1);
                    out[row + k] = cells;
                }
            }
            row += repeat;
        } else if (r.type() == pugi::node_element && !is(r, "table-column") &&
                   !is(r, "table-columns") && !is(r, "table-column-group")) {
            odsRows(r, out, budget, row, depth + 1);
        }
    }
}

}  // namespace

std::string formatSheetNumber(double value) {
    if (value == 0) return "0";
    char buf[64];
    // Whole numbers of a sheet's usual size as integers, everything else in the shortest form.
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
        return std::string(buf, end);
    }
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, end);
}

bool parseSharedStrings(std::string_view xml, std::vector<std::string>& out, std::string* error) {
    pugi::xml_document doc;
    if (!load(doc, xml, error)) return false;
    out.clear();
    for (pugi::xml_node si : child(doc, "sst").children())
        if (is(si, "si")) out.push_back(stringItem(si));
    return true;
}

bool parseXlsxSheets(std::string_view workbookXml, std::string_view relsXml,
                     std::vector<XlsxSheetRef>& out, std::string* error) {
    pugi::xml_document wb, rels;
    if (!load(wb, workbookXml, error) || !load(rels, relsXml, error)) return false;
    out.clear();
    for (pugi::xml_node s : child(child(wb, "workbook"), "sheets").children()) {
        if (!is(s, "sheet")) continue;
        std::string_view id = attr(s, "id").value();
        std::string target;
        for (pugi::xml_node r : child(rels, "Relationships").children())
            if (is(r, "Relationship") && id == attr(r, "Id").value())
                target = attr(r, "Target").value();
        if (target.empty()) continue;
        out.push_back(XlsxSheetRef{attr(s, "name").value(), partPath(target)});
    }
    return true;
}

bool parseXlsxSheet(std::string_view xml, const std::vector<std::string>& shared, SheetRows& out,
                    std::string* error) {
    pugi::xml_document doc;
    if (!load(doc, xml, error)) return false;
    out.clear();
    Budget budget;
    std::size_t nextRow = 0;
    for (pugi::xml_node r : child(child(doc, "worksheet"), "sheetData").children()) {
        if (!is(r, "row")) continue;
        std::size_t row = parseCount(attr(r, "r").value(), nextRow + 1, kMaxSheetRows + 1) - 1;
        nextRow = row + 1;
        if (row >= kMaxSheetRows) break;
        std::size_t nextCol = 0;
        for (pugi::xml_node c : r.children()) {
            if (!is(c, "c")) continue;
            std::size_t cellRow = row, col = nextCol;
            if (auto ref = attr(c, "r")) {
                if (!parseCellRef(ref.value(), cellRow, col)) continue;
                cellRow = row;  // a cell belongs to the row it is written in
            }
            nextCol = col + 1;
            std::string_view type = attr(c, "t").value();
            std::string text;
            if (type == "inlineStr") {
                text = stringItem(child(c, "is"));
            } else {
                const char* v = child(c, "v").text().get();
                if (type == "s") {
                    std::size_t index = 0;
                    auto [end, ec] = std::from_chars(v, v + std::strlen(v), index);
                    if (ec == std::errc() && index < shared.size()) text = shared[index];
                } else if (type == "b") {
                    text = std::string_view(v) == "1" ? "TRUE" : (*v ? "FALSE" : "");
                } else if (type == "str" || type == "e" || type == "d") {
                    text = v;
                } else if (*v) {
                    text = numberText(v);
                }
            }
            put(out, budget, cellRow, col, std::move(text));
        }
    }
    return tooLarge(budget, error);
}

bool parseOdsSheetNames(std::string_view contentXml, std::vector<std::string>& out,
                        std::string* error) {
    pugi::xml_document doc;
    if (!load(doc, contentXml, error)) return false;
    out.clear();
    forEachTable(doc, [&](const pugi::xml_node& t) { out.push_back(attr(t, "name").value()); });
    return true;
}

bool parseOdsSheet(std::string_view contentXml, std::string_view name, SheetRows& out,
                   std::string* error) {
    pugi::xml_document doc;
    if (!load(doc, contentXml, error)) return false;
    out.clear();
    Budget budget;
    bool found = false;
    forEachTable(doc, [&](const pugi::xml_node& t) {
        if (found || name != attr(t, "name").value()) return;
        found = true;
        std::size_t row = 0;
        odsRows(t, out, budget, row, 0);
    });
    if (!found && error) *error = "no sheet named " + std::string(name);
    return found && tooLarge(budget, error);
}

}  // namespace qm
