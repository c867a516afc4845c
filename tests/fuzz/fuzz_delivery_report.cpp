// Delivery reports are read back from disk after a run (and may have been cut short by a kill or
// edited): any bytes must parse without a crash into one row per CR LF, whose texts together are
// no longer than the input, and a report written line by line must read back as its rows (the
// status whole, commas included; line ends in it made blanks).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "delivery/delivery_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto rows = qm::parseReport(text);
    std::size_t ends = 0, bytes = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string_view::npos;
         pos = text.find("\r\n", pos + 2))
        ++ends;
    if (rows.size() != ends) std::abort();
    for (const auto& r : rows) bytes += r.address.size() + r.status.size();
    if (bytes > size) std::abort();

    // Rows from the input: one per 0x1F-separated piece, the address before its first 0x1E.
    std::vector<qm::ReportRow> written;
    std::string report;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\x1f', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = text.substr(pos, end - pos);
        pos = end + 1;
        std::size_t mark = piece.find('\x1e');
        qm::ReportRow row{
            std::string(piece.substr(0, mark)),
            mark == std::string_view::npos ? "" : std::string(piece.substr(mark + 1))};
        // The row is cut at the first comma: an address with one cannot come back whole.
        if (row.address.find(',') != std::string::npos) continue;
        report += qm::formatReportLine(row.address, row.status);
        row.address = qm::lineEndsToBlanks(row.address);
        row.status = qm::lineEndsToBlanks(row.status);
        written.push_back(std::move(row));
    }
    const auto back = qm::parseReport(report);
    if (back.size() != written.size()) std::abort();
    for (std::size_t i = 0; i < back.size(); ++i)
        if (back[i].address != written[i].address || back[i].status != written[i].status)
            std::abort();
    return 0;
}
