// The XML parts of .xlsx and .ods files: every reader must take any bytes, stay inside the sheet's
// range and keep its rows within bounds. The first byte picks the reader, so one corpus covers all.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "groups/sheet_xml.h"

namespace {

void checkBounds(const qm::SheetRows& rows) {
    if (rows.size() > qm::kMaxSheetRows) std::abort();
    for (const auto& r : rows)
        if (r.size() > qm::kMaxSheetColumns) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view xml(reinterpret_cast<const char*>(data) + 1, size - 1);
    qm::SheetRows rows;
    std::string error;
    switch (data[0] % 4) {
        case 0: {
            std::vector<std::string> shared;
            qm::parseSharedStrings(xml, shared, &error);
            shared.resize(std::min<std::size_t>(shared.size(), 4));
            shared.push_back("x");
            qm::parseXlsxSheet(xml, shared, rows, &error);
            checkBounds(rows);
            break;
        }
        case 1: {
            std::vector<qm::XlsxSheetRef> sheets;
            auto half = xml.size() / 2;
            qm::parseXlsxSheets(xml.substr(0, half), xml.substr(half), sheets, &error);
            break;
        }
        case 2: {
            std::vector<std::string> names;
            qm::parseOdsSheetNames(xml, names, &error);
            for (const auto& n : names) {
                qm::parseOdsSheet(xml, n, rows, &error);
                checkBounds(rows);
            }
            break;
        }
        default:
            qm::parseOdsSheet(xml, "S", rows, &error);
            checkBounds(rows);
    }
    return 0;
}
