// Group lines come from files and the clipboard: parsing must take any bytes, and a record written
// back must parse to itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "groups/group_files.h"
#include "groups/recipient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& r : qm::parseGroupFile(text)) {
        std::string line = qm::formatStoredLine(r);
        qm::Recipient back = qm::parseGroupLine(line);
        if (qm::formatStoredLine(back) != line) std::abort();
        if (back.status != r.status) std::abort();
    }
    std::string escaped = qm::escapeAddress(text);
    if (qm::unescapeAddress(escaped) != text) std::abort();
    return 0;
}
