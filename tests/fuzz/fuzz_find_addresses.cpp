// Address search runs over files of any origin: it must agree with the plain regex rule and every
// address it returns must pass the whole-text check.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "groups/address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& a : qm::findEmailAddresses(text))
        if (!qm::isEmailAddress(a)) std::abort();
    (void)qm::parseAddressList(text);
    return 0;
}
