// vCard files come from any address book: the reader must take any bytes, and every contact it
// gives must make a group line with exactly thirteen fields and no line break.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "groups/recipient.h"
#include "groups/vcard_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& r : qm::parseVCards(text).contacts) {
        std::string line = qm::formatStoredLine(r);
        if (std::count(line.begin(), line.end(), ',') != 13) std::abort();
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
        // Read back and written again, the line is the same (a comma in a value was stored as its
        // stand-in, so the record itself need not come back byte for byte).
        if (qm::formatStoredLine(qm::parseGroupLine(line)) != line) std::abort();
    }
    return 0;
}
