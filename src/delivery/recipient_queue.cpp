#include "delivery/recipient_queue.h"

#include <algorithm>

#include "common/file_util.h"
#include "groups/address.h"
#include "groups/group_files.h"

namespace qm {

namespace {

// The e-mail field of a stored group line: the text before its first comma.
std::string_view emailOf(std::string_view line) {
    size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string_view{} : line.substr(0, comma);
}

std::string unsubscriberFile(const Paths& paths, std::string_view group) {
    return paths.groupUnsubscribers() + "/" + groupFileName(group);
}

}  // namespace

UnsubscriberList::UnsubscriberList(std::string_view fileText) {
    size_t pos = 0;
    while (pos < fileText.size()) {
        size_t end = fileText.find('\n', pos);
        if (end == std::string_view::npos) end = fileText.size();
        std::string_view line = trimWhite(fileText.substr(pos, end - pos));
        if (!line.empty()) lowered_.insert(lowerAscii(line));
        pos = end + 1;
    }
}

bool UnsubscriberList::contains(std::string_view address) const {
    return !lowered_.empty() && lowered_.count(lowerAscii(address)) > 0;
}

RecipientQueue::RecipientQueue(Paths paths, std::vector<std::string> typed,
                               std::vector<std::string> groups, bool autoUnsubscribe, Events events)
    : paths_(std::move(paths)),
      typed_(std::move(typed)),
      groups_(std::move(groups)),
      autoUnsubscribe_(autoUnsubscribe),
      events_(std::move(events)) {}

std::optional<std::string> RecipientQueue::nextTyped() {
    std::lock_guard guard(typedLock_);
    if (typedCursor_ >= typed_.size()) return std::nullopt;
    return typed_[typedCursor_++];
}

bool RecipientQueue::loadNextGroupLocked() {
    if (!globalLoaded_) {
        globalLoaded_ = true;
        std::string text;
        if (autoUnsubscribe_ && readFile(unsubscriberFile(paths_, "1"), text))
            globalUnsubscribers_ = UnsubscriberList(text);
    }
    while (groupCursor_ < groups_.size()) {
        currentGroup_ = groups_[groupCursor_++];
        lines_.clear();
        isLast_.clear();
        lineCursor_ = 0;
        groupText_.clear();
        std::string error;
        auto kept = std::find_if(groupTexts_.begin(), groupTexts_.end(),
                                 [this](const auto& g) { return g.first == currentGroup_; });
        if (kept != groupTexts_.end()) {
            groupText_ = kept->second;
        } else if (!readFile(groupFilePath(paths_, currentGroup_), groupText_, &error)) {
            unavailable_.push_back(currentGroup_);
            if (events_.unavailable)
                events_.unavailable(currentGroup_,
                                    std::string(kMsgGroupFileRemoved) + " (" + error + ")");
            continue;
        }
        size_t pos = 0;
        while (pos < groupText_.size()) {
            size_t end = groupText_.find('\n', pos);
            if (end == std::string::npos) end = groupText_.size();
            size_t len = end - pos;
            if (len > 0 && groupText_[pos + len - 1] == '\r') --len;
            if (len > 0) {
                std::string_view line(groupText_.data() + pos, len);
                lines_.emplace_back(pos, len);
            }
            pos = end + 1;
        }
        groupUnsubscribers_ = UnsubscriberList();
        std::string text;
        if (autoUnsubscribe_ && readFile(unsubscriberFile(paths_, currentGroup_), text))
            groupUnsubscribers_ = UnsubscriberList(text);
        std::size_t members = markLastLines();
        if (events_.groupStarted) events_.groupStarted(currentGroup_, members);
        if (!lines_.empty()) return true;
    }
    return false;
}

// Sorting line numbers by address finds each address's last line without a node per member: the
// vectors keep their capacity from group to group, so a run over many large groups does not leave
// freed map nodes behind in every sending thread's allocator.
std::size_t RecipientQueue::markLastLines() {
    byAddress_.resize(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) byAddress_[i] = i;
    auto email = [this](std::size_t i) {
        return emailOf(std::string_view(groupText_.data() + lines_[i].first, lines_[i].second));
    };
    std::sort(byAddress_.begin(), byAddress_.end(), [&](std::size_t a, std::size_t b) {
        int c = email(a).compare(email(b));
        return c != 0 ? c < 0 : a < b;
    });
    isLast_.assign(lines_.size(), 0);
    std::size_t members = 0;
    for (std::size_t k = 0; k < byAddress_.size(); ++k) {
        if (k + 1 < byAddress_.size() && email(byAddress_[k]) == email(byAddress_[k + 1])) continue;
        isLast_[byAddress_[k]] = 1;
        ++members;
    }
    return members;
}

std::optional<GroupMember> RecipientQueue::nextMember(const std::atomic<bool>& running) {
    std::lock_guard guard(recipientLock_);
    for (;;) {
        while (lineCursor_ < lines_.size()) {
            size_t index = lineCursor_++;
            std::string_view line(groupText_.data() + lines_[index].first, lines_[index].second);
            // A later line of the same address replaces this one.
            if (!isLast_[index]) continue;
            GroupMember m{parseGroupLine(line), currentGroup_};
            if (autoUnsubscribe_ && m.recipient.status == RecipientStatus::Enabled &&
                (globalUnsubscribers_.contains(m.recipient.email) ||
                 groupUnsubscribers_.contains(m.recipient.email)))
                m.recipient.status = RecipientStatus::Unsubscribed;
            if (m.recipient.status != RecipientStatus::Enabled || m.recipient.email.empty()) {
                ++skipped_;
                if (events_.skipped) events_.skipped(m.recipient, m.group);
                continue;
            }
            return m;
        }
        if (!running.load()) return std::nullopt;
        if (!loadNextGroupLocked()) {
            lines_.clear();
            isLast_.clear();
            groupText_.clear();
            groupText_.shrink_to_fit();
            return std::nullopt;
        }
    }
}

std::size_t RecipientQueue::skippedCount() const {
    std::lock_guard guard(recipientLock_);
    return skipped_;
}

std::vector<std::string> RecipientQueue::unavailableGroups() const {
    std::lock_guard guard(recipientLock_);
    return unavailable_;
}

}  // namespace qm
