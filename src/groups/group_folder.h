// The group set as one unit: opening a group list replaces every group file at once.
//
// The new set is written into a sibling folder "GroupRecipients.incoming" and flushed to disk;
// then one renameat2(RENAME_EXCHANGE) swaps it with GroupRecipients, so the group folder holds
// the whole old set up to that instant and the whole new set from it on. The old set, now in the
// sibling, is removed afterwards. Files in the group folder that are not group files (a user's
// notes, a subfolder) move back into the new folder, as a removal of the groups alone would have
// left them.
//
// Where the file system refuses RENAME_EXCHANGE (EINVAL, ENOSYS, EOPNOTSUPP), the old folder is
// renamed aside to "GroupRecipients.previous" and the new one renamed into place. Between those two
// renames there is no group folder; a process killed there leaves the old set aside, and the next
// start renames it back, so the switch still ends with exactly the old set or exactly the new one.
//
// Entry points: replaceGroupSet() switches the set; settleGroupFolder() is called once at start-up
// by both programs, before anything creates the group folder, and finishes or undoes what a killed
// switch left behind; GroupFolderLock is the advisory lock the switch holds.
//
// Failure: replaceGroupSet() returns false with kMsgFailedToSave and leaves the old set exactly as
// it was (a leftover sibling it cannot clear makes it refuse before it writes anything).
// settleGroupFolder() returns false with a one-line text when a sibling cannot be emptied; the
// group folder then holds a whole set all the same, and the sibling is tried again next time.
//
// Limits: a process that creates GroupRecipients without going through start-up while a fallback
// switch is between its two renames makes the second rename fail; the old set is then put back.
// The staged set is flushed with one syncfs(), which also writes out whatever else is waiting
// for the same disk.
//
// Threads: any thread. The lock is a flock() on "GroupRecipients.lock" in the data root, taken
// through a descriptor of its own, so two threads of one process exclude each other as two
// processes do. A switch holds it exclusively for its whole length; start-up waits for a switch
// under way before it looks at leftovers; a saved group list holds it shared while it reads.
// Readers that only read one group file (the send engine) take no lock: they see the old file
// or the new one.
//
// Standard: Linux renameat2(2), syncfs(2) and flock(2).
#pragma once

#include <string>
#include <vector>

#include "common/file_util.h"
#include "groups/group_files.h"

namespace qm {

class Paths;

class GroupFolderLock {
  public:
    enum class Mode { Shared, Exclusive };
    // Blocks until the lock is held; held() is false when the lock file cannot be opened.
    GroupFolderLock(const Paths& paths, Mode mode);

    bool held() const { return lock_.held(); }

  private:
    FileLock lock_;
};

enum class FolderSwap {
    Exchange,     // one renameat2(RENAME_EXCHANGE); falls back to RenameAside where refused
    RenameAside,  // the fallback, also chosen directly by tests
};

// Replaces every group file of the group folder by `groups` (names unique, each name usable as a
// group file name).
bool replaceGroupSet(const Paths& paths, const std::vector<GroupBlock>& groups,
                     std::string* message, FolderSwap swap = FolderSwap::Exchange);

// Test seam for the kill tests: with QUILLMARK_SWITCH_KILL_STEP set to one of these names, a
// switch kills its own process (SIGKILL) when it reaches that step, so that where a kill lands
// does not depend on the machine's speed. In order:
//   "staging-made"  an empty staging folder
//   "staged"        every new group file written
//   "old-aside"     (the fallback only) the old set moved aside, no group folder
//   "new-in-place"  the new set in place, the old one still beside it
inline constexpr const char* kSwitchKillStepVariable = "QUILLMARK_SWITCH_KILL_STEP";

// The sibling folders a switch uses; they exist only while one is under way or after a kill.
std::string groupStagingFolder(const Paths& paths);
std::string groupAsideFolder(const Paths& paths);

bool settleGroupFolder(const Paths& paths, std::string* error = nullptr);

}  // namespace qm
