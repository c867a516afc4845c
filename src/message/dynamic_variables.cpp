#include "message/dynamic_variables.h"

#include <iterator>

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
    // Values read as a user typed them: addresses unescaped and the comma stand-in of Company,
    // City, State and Country turned back into a comma, so no message carries the stand-in byte.
    // The address is used as stored: it is where the message goes.
    using F = RecipientField;
    static constexpr F kFields[] = {F::Name,      F::Title,  F::Company, F::Address1, F::Address2,
                                    F::City,      F::State,  F::Zip,     F::Country,  F::Email,
                                    F::Telephone, F::Mobile, F::Fax};
    static_assert(std::size(kFields) == kDynamicVariables.size());
    if (index >= std::size(kFields)) return {};
    if (kFields[index] == F::Email) return r.email;
    return displayField(r, kFields[index]);
}

std::string personalise(std::string_view body, const Recipient& r) {
    return substitute(body, [&](std::size_t i) { return variableValue(i, r); });
}

std::string personalise(std::string_view body, std::string_view address) {
    return substitute(body,
                      [&](std::size_t i) { return i == 9 ? std::string(address) : std::string(); });
}

}  // namespace qm
