// Dynamic variables: the thirteen tokens ("[**USER**]" ...) that a campaign body may hold, and
// personalise(), which replaces them for one recipient.
//
// Entry points: personalise(). Tokens are replaced in table order (0 to 12), each step working on
// the result of the step before, so a value holding a later token has that token replaced too. The
// values come from a Recipient (addresses unescaped) or, for a bare address, only "[**EMAIL**]" has
// one and every other token is removed. Matching is exact (upper case, no blanks inside).
// Failure: none.
// Limits: because values may hold later tokens, a hostile group file could make each step multiply
// the text; a step whose result would pass kMaxPersonalisedBytes removes its token instead of
// inserting the value.
// Threads: pure functions.
// Standard: none.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "groups/recipient.h"

namespace qm {

struct DynamicVariable {
    std::string_view label;  // as the "Select Dynamic Variable" list shows it
    std::string_view token;
};

inline constexpr std::array<DynamicVariable, 13> kDynamicVariables = {{
    {"Name", "[**USER**]"},
    {"Title", "[**TITLE**]"},
    {"Company", "[**COMPANY**]"},
    {"Address 1", "[**ADDRESS1**]"},
    {"Address 2", "[**ADDRESS2**]"},
    {"City", "[**CITY**]"},
    {"State", "[**STATE**]"},
    {"Zip Code", "[**ZIPCODE**]"},
    {"Country/Region", "[**COUNTRY**]"},
    {"E-Mail Address", "[**EMAIL**]"},
    {"Phone Number", "[**PHONE**]"},
    {"Mobile Number", "[**MOBILE**]"},
    {"Fax Number", "[**FAX**]"},
}};

inline constexpr std::size_t kMaxPersonalisedBytes = 16u << 20;

// The value of token `index` for the recipient.
std::string variableValue(std::size_t index, const Recipient& r);

std::string personalise(std::string_view body, const Recipient& r);
std::string personalise(std::string_view body, std::string_view address);

}  // namespace qm
