// The recipients of one run, handed out one at a time to up to 15 sending threads: first the typed
// addresses (group "<General>"), then the members of each chosen group in turn.
//
// Entry points: nextTyped() for the typed phase, nextMember() for the group phase. Both are safe to
// call from any number of threads (the typed-list lock and the recipient lock live here).
//
// Group members: a group file is read whole, but members are not copied into records until they
// are handed out; a mark per line (is it its address's last line?) keeps one group at a time in
// memory at roughly the file's size, in buffers reused from group to group. An address listed twice
// in a group is sent once, with the fields of its last line; letter case makes addresses different.
// Members are handed out in file order.
//
// Skips are reported, not silent: a Disabled or Unsubscribed member, or (with Auto Unsubscribe) one
// whose address is a whole line of the global or the group's unsubscriber list (letter case
// ignored), is counted in `skipped`; a group whose file cannot be read is reported through
// `unavailable` and the run goes on with the next group.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "config/paths.h"
#include "delivery/delivery_report.h"
#include "groups/recipient.h"

namespace qm {

// A set of addresses read from an unsubscriber file: one per line, compared ignoring letter case.
class UnsubscriberList {
  public:
    UnsubscriberList() = default;
    explicit UnsubscriberList(std::string_view fileText);
    bool contains(std::string_view address) const;
    bool empty() const { return lowered_.empty(); }

  private:
    std::unordered_set<std::string> lowered_;
};

struct GroupMember {
    Recipient recipient;
    std::string group;
};

class RecipientQueue {
  public:
    struct Events {
        // A new group became current (members = distinct addresses in its file).
        std::function<void(const std::string& group, std::size_t members)> groupStarted = nullptr;
        // A chosen group could not be read; the run goes on with the next one.
        std::function<void(const std::string& group, const std::string& text)> unavailable =
            nullptr;
        // A member that gets no mail: disabled, unsubscribed, or on an unsubscriber list.
        std::function<void(const Recipient& member, const std::string& group)> skipped = nullptr;
    };

    RecipientQueue(Paths paths, std::vector<std::string> typed, std::vector<std::string> groups,
                   bool autoUnsubscribe, Events events);

    // The text of each named group as the run first read it (a resumed run sends from what its
    // journal kept, not from a file edited since); groups not named are read from their files.
    void useGroupTexts(std::vector<std::pair<std::string, std::string>> texts) {
        groupTexts_ = std::move(texts);
    }

    std::size_t typedTotal() const { return typed_.size(); }
    // The next typed address, or nullopt when the typed list is done.
    std::optional<std::string> nextTyped();
    // The next Enabled member of the chosen groups, loading groups as they run dry; nullopt when
    // every group is done or `running` turned false.
    std::optional<GroupMember> nextMember(const std::atomic<bool>& running);

    // Members skipped so far, and the groups that could not be read.
    std::size_t skippedCount() const;
    std::vector<std::string> unavailableGroups() const;

  private:
    bool loadNextGroupLocked();
    // Marks each address's last line; returns the number of distinct addresses.
    std::size_t markLastLines();

    const Paths paths_;
    const std::vector<std::string> typed_;
    const std::vector<std::string> groups_;
    const bool autoUnsubscribe_;
    Events events_;
    std::vector<std::pair<std::string, std::string>> groupTexts_;

    std::mutex typedLock_;
    std::size_t typedCursor_ = 0;

    mutable std::mutex recipientLock_;
    std::size_t groupCursor_ = 0;
    std::string currentGroup_;
    std::string groupText_;
    std::vector<std::pair<std::size_t, std::size_t>> lines_;  // offset, length in groupText_
    std::vector<char> isLast_;            // per line: the last line of its address
    std::vector<std::size_t> byAddress_;  // scratch for markLastLines()
    std::size_t lineCursor_ = 0;
    UnsubscriberList globalUnsubscribers_;
    UnsubscriberList groupUnsubscribers_;
    bool globalLoaded_ = false;
    std::size_t skipped_ = 0;
    std::vector<std::string> unavailable_;
};

}  // namespace qm
