// The scheduler status file is appended by every scheduled run and read back by a screen and the
// command line: any bytes must parse without a crash into at most one row per CR LF, and a line
// written for any thread, status, address and subject must read back as those texts (line breaks
// made blanks) with its date, a text that holds the separator included.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "scheduler/schedule.h"
#include "scheduler/scheduler_status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto rows = qm::parseStatusText(text);
    std::size_t ends = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string_view::npos;
         pos = text.find("\r\n", pos + 2))
        ++ends;
    if (rows.size() > ends) std::abort();

    // Four texts cut from the input at bytes 0x1F.
    std::string fields[4];
    std::size_t pos = 0;
    for (auto& f : fields) {
        std::size_t cut = std::min(text.find('\x1f', pos), text.size());
        if (pos < text.size()) f = qm::lineEndsToBlanks(text.substr(pos, cut - pos));
        pos = cut + 1;
    }
    const std::time_t due = 1800000000 + static_cast<std::time_t>(size) * 86413;
    const std::string line = qm::formatStatusLine(fields[0], fields[1], fields[2], fields[3], due);
    if (line.find("\r\n") != line.size() - 2) std::abort();
    const auto back = qm::parseStatusText(line);
    if (back.size() != 1) std::abort();
    const qm::StatusRow& row = back[0];
    if (row.thread != fields[0] || row.status != fields[1] || row.address != fields[2] ||
        row.subject != fields[3] || row.scheduledDate != qm::formatScheduleDate(due))
        std::abort();
    return 0;
}
