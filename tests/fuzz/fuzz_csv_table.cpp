// CSV files come from any address book or spreadsheet: the reader must take any bytes in one pass,
// hold no more than the input's own bytes, and every recipient it gives must make a group line
// with exactly thirteen fields and no line break.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "groups/csv_table.h"
#include "groups/recipient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::CsvTable table = qm::readCsvTable(text);
    std::size_t held = 0;
    auto count = [&held](const std::vector<std::string>& record) {
        if (record.size() > qm::kMaxCsvColumns) std::abort();
        for (const auto& f : record) held += f.size();
    };
    count(table.header);
    for (const auto& r : table.records) count(r);
    if (held > size) std::abort();  // only the input's own bytes, never more

    const qm::CsvColumns columns = qm::guessCsvColumns(table);
    if (columns.email && *columns.email >= table.header.size()) std::abort();
    for (const auto& record : table.records) {
        std::string line = qm::formatStoredLine(qm::csvRecipient(record, columns));
        if (std::count(line.begin(), line.end(), ',') != 13) std::abort();
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    }
    return 0;
}
