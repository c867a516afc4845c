#include "groups/group_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/atomic_file.h"
#include "common/charset.h"
#include "common/file_util.h"
#include "common/text.h"
#include "groups/address.h"
#include "groups/group_files.h"
#include "groups/group_lock.h"

namespace qm {

namespace {

constexpr std::string_view kForbiddenNameChars = "\\/?:*\"<>|";
// The find expression may not hold these; "-" is allowed when searching by e-mail, where it is
// part of domains ("my-shop.example") and of local parts.
constexpr std::string_view kFindForbiddenName = "`!#$%^&*()-+=|\\}{][:;\"'?/><,~";
constexpr std::string_view kFindForbiddenEmail = "`!#$%^&*()+=|\\}{][:;\"'?/><,~";

constexpr std::string_view kMsgNotFound = "The recipient is not in the group.";
constexpr std::string_view kMsgLockFailed = "Cannot lock the group for writing.";

StoreResult fail(StoreStatus status, std::string_view message) {
    return StoreResult{status, std::string(message), {}};
}

StoreResult writeFailed(const std::string& error) {
    return fail(StoreStatus::WriteFailed, std::string(kMsgFailedToSave) + " (" + error + ")");
}

bool sameNameIgnoringCase(const std::string& a, std::string_view b) {
    return ::strcasecmp(a.c_str(), std::string(b).c_str()) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

// Visits each line of `text` with and without its end (CR LF or LF); `tail` is true for text
// after the last line end.
template <typename F>
void forEachLine(std::string_view text, F&& visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        bool tail = nl == std::string_view::npos;
        std::size_t end = tail ? text.size() : nl + 1;
        std::string_view whole = text.substr(pos, end - pos);
        std::string_view line = whole;
        if (!tail) line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(whole, line, tail);
        pos = end;
    }
}

// A record exactly as it reads back from its stored line, so that records compare as lines do.
Recipient canonical(const Recipient& r) {
    return parseGroupLine(formatStoredLine(r));
}

}  // namespace

StoreResult checkGroupName(std::string_view typed, std::string& name) {
    name = std::string(trimWhite(typed));
    if (name.empty()) return fail(StoreStatus::NameEmpty, "You must enter group name.");
    if (name.find_first_of(kForbiddenNameChars) != std::string::npos)
        return fail(StoreStatus::NameInvalidCharacters,
                    "Invalid charaters(" + std::string(kForbiddenNameChars) + ") detected.");
    auto first = static_cast<unsigned char>(name[0]);
    // Bytes above ASCII begin the letters of other alphabets.
    bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first >= 0x80;
    if (!letter)
        return fail(StoreStatus::NameFirstNotLetter, "First character must be an alphabet.");
    if (groupFileName(name).size() > 255 || name.find('\0') != std::string::npos)
        return fail(StoreStatus::NameTooLong, "Group name is too long.");
    return {};
}

EntryCheck checkRecipientEntry(const Recipient& typed) {
    EntryCheck out;
    Recipient r = typed;
    for (std::string* f : {&r.email, &r.address1, &r.name, &r.telephone})
        *f = std::string(trimWhite(*f));
    struct Rule {
        const std::string* field;
        std::string_view rule;
        std::string_view message;
    };
    const Rule rules[] = {
        {&r.name, kLettersOnlyRule, "Recipient's name can contain only alphabets."},
        {&r.title, kLettersOnlyRule, "Recipient's title can contain only alphabets."},
        {&r.telephone, kNumberRule, "Telephone number entered is not valid."},
        {&r.fax, kNumberRule, "Fax number entered is not valid."},
        {&r.mobile, kNumberRule, "Mobile number entered is not valid."},
        {&r.zip, kNumberRule, "Zip code entered is not valid."},
    };
    // The entry limits of the dialog's boxes, for callers without those boxes (the command line).
    struct Limit {
        const std::string* field;
        std::size_t max;
        std::string_view label;
    };
    const Limit limits[] = {
        {&r.email, 100, "Email"},       {&r.name, 100, "Name"},  {&r.telephone, 30, "Telephone"},
        {&r.address1, 200, "Address1"}, {&r.title, 30, "Title"}, {&r.mobile, 15, "Mobile Number"},
        {&r.address2, 200, "Address2"},
    };
    if (r.email.empty()) {
        out.result = fail(StoreStatus::EntryInvalid, "Please enter recipients email address.");
        return out;
    }
    if (!isEmailAddress(r.email)) {
        out.result = fail(StoreStatus::EntryInvalid, "Email address entered is not valid.");
        return out;
    }
    for (const auto& rule : rules) {
        if (violatesRule(*rule.field, rule.rule)) {
            out.result = fail(StoreStatus::EntryInvalid, rule.message);
            return out;
        }
    }
    for (const auto& limit : limits) {
        if (userLength(*limit.field) > limit.max) {
            out.result =
                fail(StoreStatus::EntryInvalid, std::string(limit.label) + " is longer than " +
                                                    std::to_string(limit.max) + " characters.");
            return out;
        }
    }
    out.askShortAddress = !r.address1.empty() && userLength(r.address1) < 8;
    r.address1 = escapeAddress(r.address1);
    r.address2 = escapeAddress(r.address2);
    r.status = RecipientStatus::Enabled;
    out.record = canonical(r);
    return out;
}

GroupStore::GroupStore(Paths paths) : paths_(std::move(paths)) {}

// ---- The group list.

std::vector<std::string> GroupStore::groups() const {
    return listGroups(paths_);
}

StoreResult GroupStore::createGroup(std::string_view typed) {
    std::string name;
    if (auto check = checkGroupName(typed, name); !check.ok()) return check;
    for (const auto& g : groups())
        if (sameNameIgnoringCase(g, name))
            return fail(StoreStatus::NameExists, "Group with same name already exists.");
    makeFolders(paths_.groupRecipients());
    std::string path = groupFilePath(paths_, name);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST)
            return fail(StoreStatus::NameExists, "Group with same name already exists.");
        return writeFailed(path + ": " + std::strerror(errno));
    }
    ::close(fd);
    changed();
    return {};
}

StoreResult GroupStore::renameGroup(std::string_view group, std::string_view typed) {
    std::string name;
    if (auto check = checkGroupName(typed, name); !check.ok()) return check;
    for (const auto& g : groups())
        if (g != group && sameNameIgnoringCase(g, name))
            return fail(StoreStatus::NameExists,
                        "Cannot modify as a group with same name already exists.");
    if (name == group) return {};
    // Two locks, always in the order of their files, so two renames cannot wait on each other.
    std::string a = GroupLock::lockFilePath(paths_, group),
                b = GroupLock::lockFilePath(paths_, name);
    std::optional<GroupLock> first, second;
    first.emplace(paths_, a < b ? group : std::string_view(name));
    if (a != b) second.emplace(paths_, a < b ? std::string_view(name) : group);
    if (!first->held() || (second && !second->held()))
        return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    std::string from = groupFilePath(paths_, group), to = groupFilePath(paths_, name);
    if (!fileExists(from)) return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            return fail(StoreStatus::NameExists,
                        "Cannot modify as a group with same name already exists.");
        return writeFailed(to + ": " + std::strerror(errno));
    }
    if (name_ && *name_ == group) name_ = name;
    changed();
    return {};
}

StoreResult GroupStore::deleteGroup(std::string_view group) {
    GroupLock lock(paths_, group);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    std::string path = groupFilePath(paths_, group);
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
        return writeFailed(path + ": " + std::strerror(errno));
    }
    if (name_ && *name_ == group) selectRoot();
    changed();
    return {};
}

StoreResult GroupStore::removeAllGroups() {
    StoreResult result;
    for (const auto& g : groups()) {
        GroupLock lock(paths_, g);
        std::string path = groupFilePath(paths_, g);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT && result.ok())
            result = writeFailed(path + ": " + std::strerror(errno));
    }
    selectRoot();
    changed();
    return result;
}

// ---- Loading.

std::string GroupStore::loadedPath() const {
    return name_ ? groupFilePath(paths_, *name_) : std::string();
}

std::optional<GroupStore::FileStamp> GroupStore::stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{
        st.st_dev, st.st_ino, st.st_size,
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void GroupStore::clearRows() {
    rows_.clear();
    keys_.clear();
    ++revision_;
}

void GroupStore::addRow(Recipient r) {
    keys_[r.email] = rows_.size();  // a repeated address keys its last row, yet keeps its own row
    rows_.push_back(std::move(r));
}

void GroupStore::rebuildKeys() {
    keys_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) keys_[rows_[i].email] = i;
}

void GroupStore::changed() {
    saved_ = false;
    ++revision_;
}

void GroupStore::selectRoot() {
    stopLoad();
    name_.reset();
    clearRows();
    pending_.clear();
    stamp_.reset();
    stopped_ = false;
    fullyLoaded_ = false;
    loadNotices_.clear();
}

StoreResult GroupStore::startLoad(std::string_view group) {
    selectRoot();
    std::string path = groupFilePath(paths_, group);
    // Stamp before reading: an append between the two shows up as a change at the next write,
    // never as a change missed.
    auto stamp = stampOf(path);
    if (!stamp || !readFile(path, pending_))
        return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
    name_ = std::string(group);
    stamp_ = stamp;
    loading_ = true;
    lineStart_ = scanned_ = 0;
    return {};
}

bool GroupStore::loadSlice() {
    if (!loading_) return false;
    scanned_ = std::min(pending_.size(), scanned_ + kLoadSliceBytes);
    std::string_view text(pending_);
    while (lineStart_ < scanned_) {
        std::size_t nl = text.find('\n', lineStart_);
        if (nl == std::string_view::npos || nl >= scanned_) break;
        std::string_view line = text.substr(lineStart_, nl - lineStart_);
        lineStart_ = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (rows_.size() >= kMaxGroupRecipients) {
            loadNotices_.push_back(
                "Group seem to contain more contacts than listed. These will not be loaded.");
            lineStart_ = scanned_ = pending_.size();
            break;
        }
        addRow(parseGroupLine(line));
    }
    ++revision_;
    if (scanned_ < pending_.size()) return true;
    // What follows the last line end counts only when it is an address line.
    std::string_view tail = trimWhite(text.substr(std::min(lineStart_, text.size())));
    if (!tail.empty() && rows_.size() < kMaxGroupRecipients) {
        Recipient r = parseGroupLine(tail);
        if (isEmailAddress(r.email)) addRow(std::move(r));
    }
    pending_.clear();
    pending_.shrink_to_fit();
    loading_ = false;
    fullyLoaded_ = true;
    return false;
}

void GroupStore::stopLoad() {
    if (!loading_) return;
    loading_ = false;
    stopped_ = true;
    fullyLoaded_ = false;
    pending_.clear();
}

void GroupStore::completeLoad() {
    while (loadSlice()) {
    }
}

StoreResult GroupStore::load(std::string_view group) {
    StoreResult r = startLoad(group);
    if (!r.ok()) return r;
    while (loadSlice()) {
    }
    r.notices = loadNotices_;
    return r;
}

const Recipient* GroupStore::recipient(std::string_view email) const {
    auto it = keys_.find(std::string(email));
    return it == keys_.end() ? nullptr : &rows_[it->second];
}

std::string GroupStore::statusLine() const {
    if (!name_) return "\tGroup:\t\tRecipients:";
    if (loading_) return "\tLoading group: " + *name_;
    if (stopped_) return "\tLoading stopped for group: " + *name_;
    std::string shown = userLength(*name_) > 25 ? firstChars(*name_, 22) + "..." : *name_;
    return "\tGroup: " + shown + "\t\tRecipients: " + std::to_string(rows_.size());
}

// ---- Recipients.

StoreResult GroupStore::syncWithFile() {
    auto stamp = stampOf(loadedPath());
    if (!stamp) return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
    // A partial load is not the whole file; it is matched line by line instead of replaced.
    if (!fullyLoaded_ || stamp == stamp_) return {};
    std::string content;
    if (!readFile(loadedPath(), content))
        return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
    std::vector<Recipient> fresh;
    bool more = false;
    forEachLine(content, [&](std::string_view, std::string_view line, bool tail) {
        if (line.empty() || more) return;
        Recipient r = parseGroupLine(line);
        if (tail && !isEmailAddress(r.email)) return;
        if (fresh.size() >= kMaxGroupRecipients) {
            more = true;
            return;
        }
        fresh.push_back(std::move(r));
    });
    rows_ = std::move(fresh);
    rebuildKeys();
    stamp_ = stamp;
    ++revision_;
    return {};
}

StoreResult GroupStore::rewriteMatching(const Recipient& old, const Recipient* replacement) {
    std::string content;
    if (!readFile(loadedPath(), content))
        return fail(StoreStatus::FileRemoved, kMsgGroupFileRemoved);
    std::string out;
    out.reserve(content.size() + 256);
    const std::string newLine = replacement ? formatStoredLine(*replacement) : std::string();
    std::size_t matched = 0;
    forEachLine(content, [&](std::string_view whole, std::string_view line, bool) {
        if (line.empty() || !(parseGroupLine(line) == old)) {
            out += whole;
            return;
        }
        ++matched;
        if (!replacement) return;
        out += newLine;
        out += whole.substr(line.size());  // the line's own end, if it had one
    });
    if (matched == 0) return fail(StoreStatus::RecipientNotFound, kMsgNotFound);
    std::string error;
    if (!writeFileAtomic(loadedPath(), out, &error)) return writeFailed(error);
    stamp_ = stampOf(loadedPath());
    // The rows follow the file: every row that read as `old` changes as its line did.
    if (replacement) {
        for (auto& row : rows_)
            if (row == old) row = *replacement;
    } else {
        std::erase(rows_, old);
    }
    rebuildKeys();
    changed();
    return {};
}

StoreResult GroupStore::checkAdd() const {
    if (!name_)
        return fail(StoreStatus::NoGroupSelected, "Please select a group to add recipient.");
    if (!fullyLoaded_)
        return fail(StoreStatus::NotFullyLoaded, "Sorry, cannot add as group is not fully loaded.");
    if (rows_.size() >= kMaxGroupRecipients)
        return fail(StoreStatus::LimitReached,
                    "You cannot add more than 32,000 emails to a group.");
    return {};
}

StoreResult GroupStore::checkExport() const {
    if (!name_) return fail(StoreStatus::NoGroupSelected, "Please select a group to export.");
    if (!fullyLoaded_)
        return fail(StoreStatus::NotFullyLoaded,
                    "Sorry, cannot export as group is not fully loaded.");
    return {};
}

StoreResult GroupStore::addRecipient(const Recipient& record) {
    if (auto check = checkAdd(); !check.ok() && check.status != StoreStatus::LimitReached)
        return check;
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;
    if (rows_.size() >= kMaxGroupRecipients)
        return fail(StoreStatus::LimitReached,
                    "You cannot add more than 32,000 emails to a group.");
    Recipient r = canonical(record);
    if (keys_.count(r.email))
        return fail(StoreStatus::EmailExists, "Email address entered already exists in the group.");
    std::string error;
    if (!appendLines(loadedPath(), formatStoredLine(r) + "\r\n", &error)) return writeFailed(error);
    stamp_ = stampOf(loadedPath());
    addRow(std::move(r));
    changed();
    StoreResult result;
    if (rows_.size() >= kMaxGroupRecipients) result.notices.emplace_back(kMsgAddLimitReached);
    return result;
}

StoreResult GroupStore::modifyRecipient(std::string_view email, const Recipient& record) {
    if (!name_) return fail(StoreStatus::NoGroupSelected, "Please select a group to modify.");
    if (!fullyLoaded_)
        return fail(StoreStatus::NotFullyLoaded,
                    "Sorry, cannot modify as group is not fully loaded.");
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;
    const Recipient* current = recipient(email);
    if (!current) return fail(StoreStatus::RecipientNotFound, kMsgNotFound);
    Recipient r = canonical(record);
    if (r.email != email && keys_.count(r.email))
        return fail(StoreStatus::EmailExists, "Email address entered already exists in the group.");
    Recipient old = *current;
    return rewriteMatching(old, &r);
}

StoreResult GroupStore::setRecipientStatus(std::string_view email, RecipientStatus status) {
    if (!name_) return fail(StoreStatus::NoGroupSelected, "Please select a group to modify.");
    completeLoad();
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;
    const Recipient* current = recipient(email);
    if (!current) return fail(StoreStatus::RecipientNotFound, kMsgNotFound);
    if (current->status == status) return {};
    Recipient old = *current, next = *current;
    next.setStatus(status);
    return rewriteMatching(old, &next);
}

StoreResult GroupStore::deleteRecipient(std::string_view email) {
    if (!name_)
        return fail(StoreStatus::NoGroupSelected, "Please select a group to delete recipients.");
    completeLoad();
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;
    const Recipient* current = recipient(email);
    if (!current) return fail(StoreStatus::RecipientNotFound, kMsgNotFound);
    Recipient old = *current;
    return rewriteMatching(old, nullptr);
}

StoreResult GroupStore::removeAllRecipients() {
    if (!name_)
        return fail(StoreStatus::NoGroupSelected, "Please select a group to delete recipients.");
    completeLoad();
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;
    if (rows_.empty())
        return fail(StoreStatus::GroupEmpty, "Selected group does not contain any recipient.");
    std::string error;
    if (!writeFileAtomic(loadedPath(), "", &error)) return writeFailed(error);
    stamp_ = stampOf(loadedPath());
    clearRows();
    changed();
    return {};
}

StoreResult GroupStore::copyRecipient(std::string_view email, std::string& clipboard,
                                      std::string* stored) const {
    const Recipient* r = recipient(email);
    if (!r) return fail(StoreStatus::RecipientNotFound, kMsgNotFound);
    clipboard = recipientClipboardText(*r);
    if (stored) *stored = formatStoredLine(*r) + "\r\n";
    return {};
}

StoreResult GroupStore::cutRecipient(std::string_view email, std::string& clipboard,
                                     std::string* stored) {
    std::string text, storedText;
    if (auto r = copyRecipient(email, text, &storedText); !r.ok()) return r;
    StoreResult r = deleteRecipient(email);
    if (r.ok()) {
        clipboard = std::move(text);
        if (stored) *stored = std::move(storedText);
    }
    return r;
}

StoreResult GroupStore::copyAllRecipients(std::string& clipboard) const {
    if (!name_ || !readFile(loadedPath(), clipboard))
        return fail(StoreStatus::ReadFailed, "Unable to copy data to clipboard.");
    return {};
}

StoreResult GroupStore::paste(std::string_view clipboard, PasteCounts* counts) {
    if (!name_)
        return fail(StoreStatus::NoGroupSelected, "Please select a group to add recipient.");
    if (!fullyLoaded_)
        return fail(StoreStatus::NotFullyLoaded,
                    "Sorry, cannot paste as group is not fully loaded.");
    GroupLock lock(paths_, *name_);
    if (!lock.held()) return fail(StoreStatus::WriteFailed, kMsgLockFailed);
    if (auto s = syncWithFile(); !s.ok()) return s;

    StoreResult result;
    std::vector<Recipient> accepted;
    std::unordered_map<std::string, bool> seen;  // addresses accepted from this text
    PasteCounts n;
    bool full = false;
    forEachLine(clipboard, [&](std::string_view, std::string_view line, bool tail) {
        if (full || tail) return;  // text after the last line end is not a line
        if (line.empty()) return;
        if (rows_.size() + accepted.size() >= kMaxGroupRecipients) {
            result.notices.emplace_back(
                "You have reached maximum limit of 32,000 recipients in this group.");
            full = true;
            return;
        }
        Recipient r = canonical(parseGroupLine(line));
        if (keys_.count(r.email) || seen.count(r.email) || !isEmailAddress(r.email)) {
            ++n.dropped;
            return;
        }
        seen[r.email] = true;
        accepted.push_back(std::move(r));
    });
    if (!accepted.empty()) {
        std::string text;
        for (const auto& r : accepted) text += formatStoredLine(r) + "\r\n";
        std::string error;
        if (!appendLines(loadedPath(), text, &error)) return writeFailed(error);
        stamp_ = stampOf(loadedPath());
        for (auto& r : accepted) addRow(std::move(r));
        n.added = accepted.size();
        changed();
    }
    if (n.dropped > 0)
        result.notices.emplace_back(
            "Clipboard contained some duplicate or invalid recipients. They were automatically "
            "filtered.");
    if (counts) *counts = n;
    return result;
}

StoreResult GroupStore::find(FindField field, FindOperator op, std::string_view expression,
                             std::vector<std::size_t>& matches) const {
    matches.clear();
    std::string_view expr = trimWhite(expression);
    if (expr.empty())
        return fail(StoreStatus::FindExpressionEmpty, "Please enter a search expression.");
    std::string_view forbidden =
        field == FindField::Email ? kFindForbiddenEmail : kFindForbiddenName;
    if (expr.find_first_of(forbidden) != std::string_view::npos)
        return fail(StoreStatus::FindExpressionInvalid, "Invalid characters detected.");
    if (op == FindOperator::DomainIs && field != FindField::Email)
        return fail(StoreStatus::FindOperatorInvalid, "\"Domain Is\" searches by Email only.");
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        std::string_view value = field == FindField::Email ? rows_[i].email : rows_[i].name;
        if (value.empty()) continue;
        bool hit = false;
        switch (op) {
            case FindOperator::Is:
                hit = equalsIgnoringCase(value, expr);
                break;
            case FindOperator::StartsWith:
                hit = value.size() >= expr.size() &&
                      equalsIgnoringCase(value.substr(0, expr.size()), expr);
                break;
            case FindOperator::EndsWith:
                hit = value.size() >= expr.size() &&
                      equalsIgnoringCase(value.substr(value.size() - expr.size()), expr);
                break;
            case FindOperator::DomainIs:
                hit = value.find('@') != std::string_view::npos &&
                      equalsIgnoringCase(domainOf(value), expr);
                break;
        }
        if (hit) matches.push_back(i);
    }
    return {};
}

// ---- The group set.

std::optional<std::string> GroupStore::saveQuestion() const {
    if (saved_ || groups().empty()) return std::nullopt;
    if (!listFile_.empty())
        return "Do you want to save changes made to \"" + listFile_ + "\" first?";
    return std::string("Do you want to save this data first?");
}

StoreResult GroupStore::newSet() {
    StoreResult r = removeAllGroups();
    listFile_.clear();
    return r;
}

StoreResult GroupStore::openSet(const std::string& file) {
    // The switch holds the group folder's lock exclusively, so it waits for every writer (each
    // GroupLock holds that lock shared) and no writer starts before it ends. Holding group locks
    // here as well would deadlock against it.
    std::string message;
    std::vector<std::string> created;
    if (!readGroupList(paths_, file, &created, &message)) {
        bool unread = message == kMsgUnableToOpen || message == kMsgUnsupportedFormat;
        return fail(unread ? StoreStatus::ReadFailed : StoreStatus::WriteFailed, message);
    }
    selectRoot();
    listFile_ = file;
    saved_ = true;
    return {};
}

StoreResult GroupStore::save() {
    if (listFile_.empty()) return fail(StoreStatus::NeedsFileName, "");
    std::string message;
    if (!writeGroupList(paths_, listFile_, &message))
        return fail(StoreStatus::WriteFailed, message);
    saved_ = true;
    return {};
}

StoreResult GroupStore::saveAs(std::string_view typed) {
    std::string file = groupListFileName(typed);
    std::string message;
    if (!writeGroupList(paths_, file, &message)) return fail(StoreStatus::WriteFailed, message);
    listFile_ = file;
    saved_ = true;
    return {};
}

}  // namespace qm
