#include "subscriptions/unsubscriber_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "groups/address.h"
#include "groups/group_files.h"
#include "groups/group_lock.h"
#include "groups/group_store.h"
#include "groups/recipient.h"

namespace qm {

namespace {

// Calls `line` for every line of `text` (LF or CR LF ended, the last one without an end too).
template <typename F>
void forEachLine(std::string_view text, F&& line) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view l = text.substr(pos, end - pos);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        line(l);
        if (lf == std::string_view::npos) break;
        pos = lf + 1;
    }
}

class FdCloser {
  public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

  private:
    int fd_;
};

}  // namespace

bool storeHoldsAddress(std::string_view text, std::string_view address) {
    const std::string want = lowerAscii(address);
    bool found = false;
    forEachLine(text, [&](std::string_view l) {
        if (!found && lowerAscii(trimWhite(l)) == want) found = true;
    });
    return found;
}

std::string storeAppendText(std::string_view existing, std::string_view address) {
    // An appended line must not run on from a last line that has no end of its own.
    std::string out;
    if (!existing.empty() && existing.back() != '\n') out = "\r\n";
    out += address;
    out += "\r\n";
    return out;
}

std::optional<std::string> senderAddress(std::string_view from) {
    std::size_t begin = 0, end = 0;
    if (!detail::nextEmailAddress(from, 0, begin, end)) return std::nullopt;
    std::string address(from.substr(begin, end - begin));
    if (!isEmailAddress(address)) return std::nullopt;
    return address;
}

std::string requestedGroup(std::string_view subject) {
    if (subject.size() <= kUnsubscribePrefix.size() ||
        subject.substr(0, kUnsubscribePrefix.size()) != kUnsubscribePrefix)
        return std::string(kAllGroupsStore);
    std::string group(subject.substr(kUnsubscribePrefix.size()));
    for (char& c : group)
        if (c == ':') c = ' ';
    return group;
}

std::string unsubscriberStorePath(const Paths& paths, std::string_view group) {
    return paths.groupUnsubscribers() + "/" + groupFileName(group);
}

bool isRecordedUnsubscriber(const Paths& paths, std::string_view group, std::string_view address) {
    std::string text;
    return readFile(unsubscriberStorePath(paths, group), text) && storeHoldsAddress(text, address);
}

bool isStoreGroupName(std::string_view group) {
    return group.find('/') == std::string_view::npos && group.find('\0') == std::string_view::npos;
}

bool recordUnsubscriber(const Paths& paths, std::string_view group, std::string_view address,
                        bool* added, std::string* error) {
    if (added) *added = false;
    const std::string path = unsubscriberStorePath(paths, group);
    if (!isStoreGroupName(group)) {
        if (error) *error = "Not a group name: " + std::string(group);
        return false;
    }
    makeFolders(paths.groupUnsubscribers());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = "Unable to open " + path + ": " + std::strerror(errno);
        return false;
    }
    FdCloser closer(fd);
    // Two retrievals (the window and the command line) must not both find the address missing
    // and both append it.
    lockDescriptor(fd, LOCK_EX);
    std::string text;
    readFile(path, text);
    if (storeHoldsAddress(text, address)) return true;
    std::string out = storeAppendText(text, address);
    if (int e = writeAll(fd, out); e != 0) {
        if (error) *error = "Unable to write " + path + ": " + std::strerror(e);
        return false;
    }
    if (added) *added = true;
    return true;
}

SubscribeResult addSubscribers(const Paths& paths, std::string_view group,
                               const std::vector<std::string>& addresses) {
    SubscribeResult result;
    const std::string failed = "Failed to save Email IDs to " + std::string(group);
    GroupLock lock(paths, group);
    const std::string path = groupFilePath(paths, group);
    std::string text;
    if (!lock.held() || !readFile(path, text)) return {false, 0, failed};
    std::unordered_set<std::string> known;
    std::size_t rows = 0;
    forEachLine(text, [&](std::string_view l) {
        if (trimWhite(l).empty()) return;
        ++rows;
        known.insert(std::string(l.substr(0, l.find(','))));
    });
    std::string lines;
    for (const std::string& address : addresses) {
        if (known.count(address)) continue;
        if (rows >= kMaxGroupRecipients) {
            result.message = std::string(kMsgAddLimitReached);
            break;
        }
        Recipient r;
        r.email = address;
        lines += formatStoredLine(r);
        lines += "\r\n";
        known.insert(address);
        ++rows;
        ++result.added;
    }
    if (lines.empty()) return result;
    if (!appendLines(path, lines)) return {false, 0, failed};
    return result;
}

}  // namespace qm
