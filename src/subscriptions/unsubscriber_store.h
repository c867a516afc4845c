// The unsubscriber store and the harvest of unsubscribe and subscribe requests.
//
// The store is the folder GroupUnsubscribers below the program folder: one file per group, named
// as the group's recipient file ("_" + name + ".sbz") but holding plain addresses, one per line
// ended by CR LF, in the order the requests were read. The group "1" holds requests whose subject
// names no group; the send engine applies it to every group. Lines are only ever appended.
//
// Entry points: senderAddress() (the first address of a From value), requestedGroup() (the group a
// subject names), recordUnsubscriber() (append unless the address already is a line of the file),
// addSubscribers() (new addresses to a group file, under the group's lock).
//
// Comparisons are by whole lines, ignoring letter case as the send engine does: "ob@x.com" is
// recorded even though "bob@x.com" is there, and a known "ob@x.com" never touches "bob@x.com".
//
// Failure: false plus a fixed text; nothing already in a file is ever changed. A store file that
// cannot be read counts as empty for the check, but an append that cannot be made fails.
// Limits: addSubscribers() stops at the group limit of 32,000 recipients.
// Threads: any; two writers of one store file are serialised by an advisory lock on that file,
// and group files by their GroupLock.
// Standard: none (the system's own files).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class Paths;

inline constexpr std::string_view kAllGroupsStore = "1";
inline constexpr std::string_view kUnsubscribePrefix = "Unsubscribe-";

// The first address the address rule finds in a From value, or nullopt.
std::optional<std::string> senderAddress(std::string_view from);
// "Unsubscribe-" (exact case) and a name: the name with every ":" turned back into a blank;
// anything else: the group "1".
std::string requestedGroup(std::string_view subject);

// The store file's text: whether a line holds `address` (blanks around and letter case ignored),
// and what an append of it adds to `existing`. Pure, so that any bytes can be tried on them.
bool storeHoldsAddress(std::string_view text, std::string_view address);
std::string storeAppendText(std::string_view existing, std::string_view address);

std::string unsubscriberStorePath(const Paths& paths, std::string_view group);
// True when the address is a line of the store file of `group` (letter case ignored).
bool isRecordedUnsubscriber(const Paths& paths, std::string_view group, std::string_view address);
// False for a name that cannot be a store file's ("/" or NUL in it): a request's fault, not the
// store's.
bool isStoreGroupName(std::string_view group);
// Appends `address` and CR LF to the store file of `group` unless a line already holds it.
// `added` says whether it did.
bool recordUnsubscriber(const Paths& paths, std::string_view group, std::string_view address,
                        bool* added = nullptr, std::string* error = nullptr);

struct SubscribeResult {
    bool ok = true;
    std::size_t added = 0;
    std::string message;  // "Failed to save Email IDs to " + group, or the limit notice
};
// Appends each address that is not already the e-mail of a line of the group file, as a
// recipient with status Enabled and no other field. A missing group file is a failure.
SubscribeResult addSubscribers(const Paths& paths, std::string_view group,
                               const std::vector<std::string>& addresses);

}  // namespace qm
