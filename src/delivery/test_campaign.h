// The test campaign: the current message sent at once to at most five typed addresses, with the
// chosen groups and the launch settings ignored.
//
// Entry points: checkTestAddresses() is the rule of the "Test Campaign" screen's Send button: ";",
// "," and blank end an address; at most 4 separators that end an address (5 when the text ends in
// ","), so at most five addresses; every non-empty address must pass isEmailAddress(). The
// accepted text then becomes the run's typed list through parseAddressList(), like the main
// window's recipients field.
// Failure: the fixed text to show, or nothing when the text is accepted.
// Limits: five addresses.
// Threads: pure function.
// Standard: none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kMsgEnterTestAddress =
    "Please enter at-least one e-mail address.";
inline constexpr std::string_view kMsgInvalidTestAddress =
    "One of the Email IDs entered is not valid.";
inline constexpr std::string_view kMsgTooManyTestAddresses =
    "You cannot enter more than 5 Email IDs.";
inline constexpr std::string_view kMsgNoTestAddress = "No valid Email ID entered";

// nullopt when the screen may close with acceptance; otherwise the message to show.
std::optional<std::string_view> checkTestAddresses(std::string_view text);

}  // namespace qm
