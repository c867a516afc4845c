// The one address rule of the system, the search for addresses in free text, the character rules
// of the recipient fields, and the parse of the typed recipient box.
//
// Entry points: isEmailAddress() is a whole-text match of kAddressPattern (Boost.Regex, Perl
// syntax, case sensitive). findEmailAddresses() and forEachEmailAddress() return what repeated
// left-to-right regex searches return, but run the regex only around each "@": every address holds
// exactly one "@", so text without one is skipped at memchr speed and hostile input (megabytes of
// letters and dots) stays linear. violatesRule() checks a field against its character rule.
// parseAddressList() rebuilds the main window's address list from the box text: ";" and ","
// separate entries, invalid tokens are dropped silently, duplicates are dropped ignoring letter
// case, and the list shows them newest first.
// Failure: a regex complexity error is caught and counts as "no match"; it never escapes.
// parseAddressList()'s message, when not empty, is a fixed text for the caller to show.
// Limits: at most 100,000 typed addresses.
// Threads: pure functions.
// Standard: the system's own address pattern, not RFC 5322.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace qm {

inline constexpr const char* kAddressPattern =
    "([0-9a-zA-Z]+)([\\._]([0-9a-zA-Z]+))*(@)([0-9a-zA-Z]+)([\\._-]([0-9a-zA-Z]+))*[\\.]([0-9a-zA-"
    "Z]){2,9}([0-9a-zA-Z])?";

bool isEmailAddress(std::string_view text);
// The same answer as isEmailAddress() for every text, read as runs of letters and digits between
// separators instead of through the regex: an import checks a million candidates, and the regex
// costs about fifty times more per address. fuzz_import_items compares the two on every input.
bool isEmailAddressQuick(std::string_view text);
std::vector<std::string> findEmailAddresses(std::string_view text);
// Calls `found` for each address, in order, without collecting them (for large files).
template <typename F>
void forEachEmailAddress(std::string_view text, F&& found);

// Characters that a letters-only field (Name, Title, the sender's name) may not hold.
inline constexpr std::string_view kLettersOnlyRule = "0123456789`!@#$%^&*()-_+=|\\}{][:;\"'?/><.,~";
// Characters that a number field (Telephone, Fax, Mobile, Zip) may not hold.
inline constexpr std::string_view kNumberRule =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ`!@#$%^&*()_=|\\}{][:;\"'?/><.,~";

// True when `text` holds any character of `rule`.
bool violatesRule(std::string_view text, std::string_view rule);

inline constexpr std::size_t kMaxTypedAddresses = 100000;
inline constexpr std::string_view kMsgTooManyAddresses =
    "You have already entered 100,000 email addresses.";
inline constexpr std::string_view kMsgNoSpaceForAddresses =
    "Enough space is not available to store email addresses.";
inline constexpr std::string_view kMsgInsertFailed = "Failed to insert email address.";

struct AddressList {
    std::vector<std::string> addresses;  // newest first, as the list shows them
    std::string message;                 // empty, or the text to show once
};

AddressList parseAddressList(std::string_view boxText);

// The text after the last "@" (empty when there is none).
std::string_view domainOf(std::string_view address);

namespace detail {
// Finds the first address at or after `from`; returns false when there is none.
bool nextEmailAddress(std::string_view text, std::size_t from, std::size_t& begin,
                      std::size_t& end);
}  // namespace detail

template <typename F>
void forEachEmailAddress(std::string_view text, F&& found) {
    std::size_t from = 0, begin = 0, end = 0;
    while (detail::nextEmailAddress(text, from, begin, end)) {
        found(text.substr(begin, end - begin));
        from = end;
    }
}

}  // namespace qm
