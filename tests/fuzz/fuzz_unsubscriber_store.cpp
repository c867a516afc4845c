// An unsubscriber store file may hold anything (edited by hand, cut short by a kill): any bytes
// must be searched without a crash, and an address appended to it must then be found there,
// after the old bytes left exactly as they were, with every line found before still found, so a
// second request for the same address appends nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "subscriptions/unsubscriber_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The file, then after the last 0x1F the address of the request.
    std::size_t cut = input.rfind('\x1f');
    std::string_view existing = input.substr(0, cut == std::string_view::npos ? size : cut);
    std::string_view address = cut == std::string_view::npos ? "" : input.substr(cut + 1);
    qm::storeHoldsAddress(existing, address);
    // The harvest gives only addresses: one word without line ends or blanks around.
    if (address.empty() || address.find_first_of("\r\n") != std::string_view::npos ||
        qm::trimWhite(address) != address)
        return 0;

    const std::string after = std::string(existing) + qm::storeAppendText(existing, address);
    if (!qm::storeHoldsAddress(after, address)) std::abort();
    if (after.size() > existing.size() + address.size() + 4) std::abort();
    std::size_t pos = 0;
    for (int lines = 0; pos < existing.size() && lines < 64; ++lines) {
        std::size_t lf = existing.find('\n', pos);
        std::size_t end = lf == std::string_view::npos ? existing.size() : lf;
        std::string_view line = existing.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (qm::storeHoldsAddress(existing, line) && !qm::storeHoldsAddress(after, line))
            std::abort();
        if (lf == std::string_view::npos) break;
        pos = lf + 1;
    }
    return 0;
}
