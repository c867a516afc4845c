// DNS replies come from the network: any packet must render or give nothing, never crash.
#include <cstdint>
#include <string_view>

#include "delivery/dns_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const int kTypes[] = {1, 2, 5, 6, 10, 11, 12, 14, 15, 17, 18, 21, 30, 33};
    int type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
    qm::renderAnswer(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), type);
    return 0;
}
