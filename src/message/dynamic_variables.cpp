#include "message/dynamic_variables.h"

namespace qm {

namespace {

// Replaces every occurrence of `token` in `text` by `value`, left to right, without rescanning
// inserted values.
std::string replaceAll(const std::string& text, std::string_view token, std::string_view value) {
    std::size_t count = 0;
    for (std::size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + token.size()))
        ++count;
    if (count == 0) return text;
    std::size_t grown = text.size() - count * token.size() + count * value.size();
    if (grown > kMaxPersonalisedBytes && value.size() > token.size()) value = {};
    std::string out;
    out.reserve(text.size() - count * token.size() + count * value.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, from)) {
        out.append(text, from, at - from);
        out += value;
        from = at + token.size();
    }
    out.append(text, from);
    return out;
}

template <typename ValueOf>
std::string substitute(std::string_view body, ValueOf valueOf) {
    std::string text(body);
    for (std::size_t i = 0; i < kDynamicVariables.size(); ++i)
        text = replaceAll(text, kDynamicVariables[i].token, valueOf(i));
    return text;
}

}  // namespace

std::string variableValue(std::size_t index, const Recipient& r) {
    switch (index) {
        case 0:
            return r.name;
        case 1:
            return r.title;
        case 2:
            return r.company;
        case 3:
            return unescapeAddress(r.address1);
        case 4:
            return unescapeAddress(r.address2);
        case 5:
            return r.city;
        case 6:
            return r.state;
        case 7:
            return r.zip;
        case 8:
            return r.country;
        case 9:
            return r.email;
        case 10:
            return r.telephone;
        case 11:
            return r.mobile;
        case 12:
            return r.fax;
        default:
            return {};
    }
}

std::string personalise(std::string_view body, const Recipient& r) {
    return substitute(body, [&](std::size_t i) { return variableValue(i, r); });
}

std::string personalise(std::string_view body, std::string_view address) {
    return substitute(body,
                      [&](std::size_t i) { return i == 9 ? std::string(address) : std::string(); });
}

}  // namespace qm
