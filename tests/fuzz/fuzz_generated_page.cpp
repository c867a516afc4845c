// Generated pages are files the user picks: the header reader must take any bytes and never report
// more pictures than one digit allows.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "message/html_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    qm::GeneratedPage g = qm::readGeneratedPage(page);
    if (g.pictureCount < 0 || g.pictureCount > 9) std::abort();
    if (g.picturePaths.size() != static_cast<std::size_t>(g.pictureCount)) std::abort();
    for (const auto& p : g.picturePaths)
        if (p.size() > size) std::abort();
    return 0;
}
