// Group-list files arrive from other machines: parsing must never crash or hang, and whatever it
// accepts must be written back to a file that parses to the same groups.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "groups/group_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto blocks = qm::parseGroupList(text);
    if (!blocks) return 0;
    for (const auto& b : *blocks)
        if (b.name.find('/') != std::string::npos) std::abort();
    (void)qm::convertOlderForm(text);
    return 0;
}
