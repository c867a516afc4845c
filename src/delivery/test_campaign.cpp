#include "delivery/test_campaign.h"

#include "groups/address.h"

namespace qm {

std::optional<std::string_view> checkTestAddresses(std::string_view text) {
    if (text.empty()) return kMsgEnterTestAddress;
    // A trailing comma is forgiven: five addresses may each be followed by one.
    const int limit = text.back() == ',' ? 5 : 4;
    int separators = 0;
    std::string current;
    for (char c : text) {
        if (c != ';' && c != ',' && c != ' ') {
            current += c;
            continue;
        }
        std::string address(trimWhite(current));
        current.clear();
        // Only a separator that ends an address counts: blanks around a comma, or two separators
        // in a row, must not make three addresses look like more than five.
        if (address.empty()) continue;
        ++separators;
        if (!isEmailAddress(address)) return kMsgInvalidTestAddress;
        if (separators > limit) return kMsgTooManyTestAddresses;
    }
    std::string_view last = trimWhite(current);
    if (!last.empty() && !isEmailAddress(last)) return kMsgInvalidTestAddress;
    return std::nullopt;
}

}  // namespace qm
