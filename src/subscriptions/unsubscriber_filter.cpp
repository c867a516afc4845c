#include "subscriptions/unsubscriber_filter.h"

#include <unordered_set>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "groups/address.h"
#include "groups/group_files.h"
#include "groups/group_lock.h"
#include "groups/recipient.h"

namespace qm {

namespace {

constexpr std::size_t kProgressEvery = 100;

// Distinct addresses in first-seen order, compared ignoring letter case.
class AddressSet {
  public:
    bool add(std::string_view address) {
        if (!seen_.insert(lowerAscii(address)).second) return false;
        ordered_.emplace_back(address);
        return true;
    }
    bool contains(std::string_view address) const { return seen_.count(lowerAscii(address)) > 0; }
    const std::vector<std::string>& ordered() const { return ordered_; }

  private:
    std::unordered_set<std::string> seen_;
    std::vector<std::string> ordered_;
};

std::string percent(std::string_view what, std::string_view group, std::size_t done,
                    std::size_t whole) {
    return std::string(what) + std::string(group) + ", " +
           std::to_string(whole ? done * 100 / whole : 100) + "% Done";
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

}  // namespace

std::vector<std::string> parseUnsubscriberInput(std::string_view text) {
    AddressSet set;
    std::size_t start = 0;
    auto take = [&](std::size_t end) {
        std::string_view token = text.substr(start, end - start);
        if (!token.empty() && isEmailAddress(token)) set.add(token);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\t' && c != '\r' && c != '\n' && c != ' ' && c != ',' && c != ';') continue;
        take(i);
        start = i + 1;
    }
    if (start < text.size()) take(text.size());
    return set.ordered();
}

FilterStartCheck checkFilterStart(const std::vector<std::string>& groups, std::string_view path,
                                  std::vector<std::string>& addresses) {
    using S = FilterStartStatus;
    if (groups.empty()) return {S::NoGroups, "Please select group(s)."};
    if (trimWhite(path).empty())
        return {S::NoFile, "Please select a file containing unsubscribed users."};
    std::string text;
    if (!readFile(std::string(path), text))
        return {S::FileUnreadable, "Unable to open file containing unsubscribed recipients."};
    addresses = parseUnsubscriberInput(text);
    return {};
}

FilterStartCheck checkSaveStart(const std::vector<std::string>& groups, std::string_view path) {
    using S = FilterStartStatus;
    if (groups.empty()) return {S::NoGroups, "Please select group(s)."};
    if (trimWhite(path).empty())
        return {S::NoFile, "Please enter filename to save unsubsribers first."};
    return {};
}

FilterResult filterGroups(const Paths& paths, const std::vector<std::string>& groups,
                          const std::vector<std::string>& addresses,
                          const std::atomic<bool>& running, FilterObserver& observer) {
    FilterResult result;
    AddressSet wanted;
    for (const auto& a : addresses) wanted.add(a);
    for (const std::string& group : groups) {
        if (!running.load()) break;
        observer.status("Geting recipients of " + group);
        GroupLock lock(paths, group);
        const std::string path = groupFilePath(paths, group);
        std::string text;
        if (!lock.held()) {  // named in the closing text
            result.skippedGroups.push_back(group);
            continue;
        }
        if (!readFile(path, text)) continue;
        observer.status("Unsubscribing recipients from " + group);
        std::string out;
        out.reserve(text.size());
        bool changed = false;
        std::size_t pos = 0, lines = 0;
        for (;;) {
            if (!running.load()) break;
            const std::size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) break;
            std::string_view line(text.data() + pos, end - pos);
            Recipient r = parseGroupLine(line);
            if (!r.email.empty() && wanted.contains(r.email)) {
                r.status = RecipientStatus::Unsubscribed;
                std::string stored = formatStoredLine(r);
                changed = changed || stored != line;
                out += stored;
                ++result.marked;
            } else {
                out += line;
            }
            out += "\r\n";
            pos = end + 2;
            if (++lines % kProgressEvery == 0)
                observer.status(percent("Unsubscribing recipients from ", group, pos, text.size()));
        }
        if (!running.load()) break;  // the group being read stays as it was
        out.append(text, pos, std::string::npos);
        if (!changed) continue;
        observer.status("Saving changed status of " + group);
        std::string error;
        if (!writeFileAtomic(path, out, &error)) {
            observer.notice("Failed to save Email IDs to " + group);
            result.skippedGroups.push_back(group);
        } else {
            ++result.changedGroups;
        }
    }
    if (!running.load()) {
        result.outcome = FilterOutcome::Stopped;
        return result;
    }
    if (!result.skippedGroups.empty()) {
        result.outcome = FilterOutcome::GroupsSkipped;
        result.message =
            "Filtering has been completed, but these groups were skipped and left as "
            "they were: " +
            joinNames(result.skippedGroups) + ".";
        return result;
    }
    result.message = "Filtering has been completed successfully.";
    return result;
}

FilterResult saveUnsubscribed(const Paths& paths, const std::vector<std::string>& groups,
                              const std::string& outputFile, const std::atomic<bool>& running,
                              FilterObserver& observer) {
    FilterResult result;
    AddressSet found;
    for (const std::string& group : groups) {
        if (!running.load()) break;
        observer.status("Geting recipients of " + group);
        std::string text;
        if (!readFile(groupFilePath(paths, group), text)) continue;
        observer.status("Getting Unsubscribed recipients from " + group);
        std::size_t pos = 0, lines = 0;
        while (running.load()) {
            const std::size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) break;
            Recipient r = parseGroupLine(std::string_view(text.data() + pos, end - pos));
            if (r.status == RecipientStatus::Unsubscribed && !r.email.empty()) found.add(r.email);
            pos = end + 2;
            if (++lines % kProgressEvery == 0)
                observer.status(
                    percent("Getting Unsubscribed recipients from ", group, pos, text.size()));
        }
    }
    if (!running.load()) {
        result.outcome = FilterOutcome::Stopped;
        return result;
    }
    if (found.ordered().empty()) {
        result.outcome = FilterOutcome::NothingFound;
        result.message = "No unsubscribed recipient found.";
        return result;
    }
    observer.status("Saving list of unsubscribers");
    std::string content;
    for (const auto& a : found.ordered()) content += a + "\r\n";
    std::string error;
    if (!writeFileAtomic(outputFile, content, &error)) {
        observer.notice("Unable to save file.");
        result.message.clear();
        return result;
    }
    result.found = found.ordered().size();
    result.message = "Unsubscribed recipients successfully saved.";
    return result;
}

}  // namespace qm
