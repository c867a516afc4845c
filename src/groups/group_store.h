// The operations that change groups and recipients, the one loaded group, and the group set.
//
// Entry points: GroupStore (create, rename, delete and remove all groups; load one group in
// slices; add, modify, enable, disable, delete, remove all, copy, cut, paste and find recipients;
// New, Open, Save and Save As of the group set), checkGroupName(), checkRecipientEntry().
// Clipboard text goes in and out as strings: the core never touches a clipboard.
//
// Files: every change reaches the group file at once. Additions are appended; every other change
// rewrites the whole file through writeFileAtomic (temporary file, fsync, rename), never in place.
// A rewrite changes every line that reads as the changed recipient, so line order is kept and
// identical duplicate lines change together, as replacing the line's text would (but a line is
// never matched inside a longer line, as a plain text replacement could do with "a@x.com" inside
// "ba@x.com").
// Each read-modify-write holds the group's GroupLock; under it the store first compares the file
// with what it loaded and, when another writer changed it, reloads the group so that nothing that
// writer did is lost and the duplicate check and the limit see the file as it is.
//
// Failure: every operation returns a StoreResult: a status for decisions and the fixed text to
// show. Memory only changes when the file did, so the rows always equal the file.
// Limits: 32,000 rows per group (add, paste, load; a longer file loads its first 32,000 lines);
// load consumes 5,000 bytes per slice.
// Threads: one GroupStore belongs to one thread; separate stores (and processes) coordinate
// through the group locks.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/paths.h"
#include "groups/recipient.h"

namespace qm {

inline constexpr std::size_t kMaxGroupRecipients = 32000;
inline constexpr std::size_t kLoadSliceBytes = 5000;

enum class StoreStatus {
    Ok,
    NameEmpty,
    NameInvalidCharacters,
    NameFirstNotLetter,
    NameTooLong,
    NameExists,
    NoGroupSelected,
    GroupEmpty,
    NotFullyLoaded,
    LimitReached,
    EmailExists,
    EntryInvalid,
    RecipientNotFound,
    FileRemoved,
    WriteFailed,
    ReadFailed,
    FindExpressionEmpty,
    FindExpressionInvalid,
    FindOperatorInvalid,
    NeedsFileName,
};

struct StoreResult {
    StoreStatus status = StoreStatus::Ok;
    std::string message;               // the text to show when status is not Ok
    std::vector<std::string> notices;  // texts to show even on success (limit reached, filtered)
    bool ok() const { return status == StoreStatus::Ok; }
};

// Fixed texts of the group window, for callers that ask the questions themselves.
inline constexpr std::string_view kAskDeleteGroup = "Are you sure you want to delete this group?";
inline constexpr std::string_view kAskRemoveAllGroups =
    "Are you sure you want to delete all groups?";
inline constexpr std::string_view kAskRemoveAllRecipients =
    "Are you sure you want to remove all recipients in this group?";
inline constexpr std::string_view kAskShortAddress =
    "Address is too small. Do you wish to continue anyway?";
inline constexpr std::string_view kMsgAddLimitReached =
    "You have reched your limit of 32,000 recipients for this group.";

// Trims `typed` into `name` and applies the naming rules (empty, forbidden characters, first
// letter, length of the file name).
StoreResult checkGroupName(std::string_view typed, std::string& name);

struct EntryCheck {
    StoreResult result;
    bool askShortAddress = false;  // ask kAskShortAddress before going on
    Recipient record;              // the record to add or modify when result.ok()
};
// The recipient entry as typed (addresses plain), checked in the window's order; the record
// built has its addresses escaped and status Enabled.
EntryCheck checkRecipientEntry(const Recipient& typed);

enum class FindField { Email, Name };
enum class FindOperator { Is, StartsWith, EndsWith, DomainIs };

class GroupStore {
  public:
    explicit GroupStore(Paths paths);

    const Paths& paths() const { return paths_; }

    // ---- The group list.
    std::vector<std::string> groups() const;
    StoreResult createGroup(std::string_view typed);
    StoreResult renameGroup(std::string_view group, std::string_view typed);
    StoreResult deleteGroup(std::string_view group);
    StoreResult removeAllGroups();

    // ---- The loaded group.
    // Starts loading `group` (a load in progress ends as stopped first); then call loadSlice()
    // until it returns false, or stopLoad(). A group whose file is missing loads nothing.
    // A rewrite while loading (status, delete, remove all) completes the load first: the rest of
    // the text read at the start would otherwise bring back lines the rewrite changed.
    StoreResult startLoad(std::string_view group);
    bool loadSlice();
    void stopLoad();
    // The whole load in one call (the command line).
    StoreResult load(std::string_view group);
    // The root of the group list: nothing loaded.
    void selectRoot();

    const std::optional<std::string>& loadedGroup() const { return name_; }
    bool loading() const { return loading_; }
    bool fullyLoaded() const { return fullyLoaded_; }
    const std::vector<Recipient>& rows() const { return rows_; }
    // The keyed record of `email` (exact case), or null.
    const Recipient* recipient(std::string_view email) const;
    // The status line of the group window.
    std::string statusLine() const;
    // Notices of the last load ("more contacts than listed").
    const std::vector<std::string>& loadNotices() const { return loadNotices_; }
    // Grows with every change of the rows, also when another writer's change was picked up.
    std::uint64_t revision() const { return revision_; }

    // ---- Recipients of the loaded group, found by e-mail (exact case).
    // Whether add may start (group chosen, fully loaded, below the limit): the window asks before
    // it opens the entry dialog, so a full or partly loaded group refuses at once.
    StoreResult checkAdd() const;
    StoreResult addRecipient(const Recipient& record);
    StoreResult modifyRecipient(std::string_view email, const Recipient& record);
    StoreResult setRecipientStatus(std::string_view email, RecipientStatus status);
    StoreResult deleteRecipient(std::string_view email);
    StoreResult removeAllRecipients();
    // Plain line and CR LF of one recipient; `stored` (if given) gets its stored line and CR LF,
    // which pastes back field for field even when an address holds a comma (the plain line would
    // split there).
    StoreResult copyRecipient(std::string_view email, std::string& clipboard,
                              std::string* stored = nullptr) const;
    StoreResult cutRecipient(std::string_view email, std::string& clipboard,
                             std::string* stored = nullptr);
    // The group file as stored.
    StoreResult copyAllRecipients(std::string& clipboard) const;
    struct PasteCounts {
        std::size_t added = 0;
        std::size_t dropped = 0;
    };
    StoreResult paste(std::string_view clipboard, PasteCounts* counts = nullptr);

    // Whether the loaded rows are the whole group, so that an export writes all of it.
    StoreResult checkExport() const;

    // Row indices of the matches, in row order.
    StoreResult find(FindField field, FindOperator op, std::string_view expression,
                     std::vector<std::size_t>& matches) const;

    // ---- The group set.
    bool saved() const { return saved_; }
    // Another writer (an import) added groups to the folder: the set differs from its saved list.
    void groupsAddedElsewhere() { saved_ = false; }
    const std::string& currentListFile() const { return listFile_; }
    // The question to ask before New or Open (and the window's close), when one is due.
    std::optional<std::string> saveQuestion() const;
    StoreResult newSet();
    StoreResult openSet(const std::string& file);
    StoreResult save();  // NeedsFileName when there is no current file: run saveAs
    StoreResult saveAs(std::string_view typed);

  private:
    struct FileStamp {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        std::int64_t mtimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    std::string loadedPath() const;
    static std::optional<FileStamp> stampOf(const std::string& path);
    void clearRows();
    void addRow(Recipient r);
    void rebuildKeys();
    void changed();
    void completeLoad();
    // Under the lock: the file exists, and the rows equal it (reloaded when another writer
    // changed it).
    StoreResult syncWithFile();
    // Under the lock: every line reading as `old` becomes `replacement` (removed when null).
    StoreResult rewriteMatching(const Recipient& old, const Recipient* replacement);

    Paths paths_;
    std::optional<std::string> name_;
    std::vector<Recipient> rows_;
    std::unordered_map<std::string, std::size_t> keys_;  // e-mail -> its last row
    bool loading_ = false;
    bool fullyLoaded_ = false;
    bool stopped_ = false;
    std::string pending_;  // the file text of a load in progress
    std::size_t lineStart_ = 0, scanned_ = 0;
    std::optional<FileStamp> stamp_;
    std::vector<std::string> loadNotices_;
    std::uint64_t revision_ = 0;

    std::string listFile_;
    bool saved_ = false;
};

}  // namespace qm
