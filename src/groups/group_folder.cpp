#include "groups/group_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/file_util.h"
#include "config/paths.h"

namespace qm {

namespace {

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

std::string describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A GroupRecipients that is a link (to a shared drive, say) is followed: the switch happens beside
// the folder it names, so the link itself stays. A dangling link (its folder renamed aside by a
// killed switch) is followed by hand.
std::string groupFolder(const Paths& paths) {
    std::string g = paths.groupRecipients();
    char buf[PATH_MAX];
    if (::realpath(g.c_str(), buf)) return buf;
    ssize_t n = ::readlink(g.c_str(), buf, sizeof buf);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buf)) return g;
    std::string target(buf, static_cast<size_t>(n));
    if (target.front() == '/') return target;
    return g.substr(0, g.rfind('/') + 1) + target;
}

// The errors by which a file system says it does not know a renameat2 flag.
bool flagRefused(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Moves `name` between two folders unless the target already has an entry of that name. The
// check is by hand where the file system lacks RENAME_NOREPLACE (the switch lock is held).
int moveNoReplace(int fromDir, const char* name, int toDir) {
    if (::renameat2(fromDir, name, toDir, name, RENAME_NOREPLACE) == 0) return 0;
    if (!flagRefused(errno)) return errno;
    struct stat st {};
    if (::fstatat(toDir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return ::renameat(fromDir, name, toDir, name) == 0 ? 0 : errno;
}

bool isGroupFileEntry(int dir, const std::string& name) {
    if (name.size() < kGroupFileSuffix.size() ||
        name.compare(name.size() - kGroupFileSuffix.size(), std::string::npos, kGroupFileSuffix) !=
            0)
        return false;
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

enum class Drain {
    DropGroups,  // group files go (the set that lost the switch), the rest moves back
    MoveAll,     // every entry moves back (an old set put back into a folder someone recreated)
};

// Empties a sibling folder of the group folder into it, then removes the sibling. A sibling that
// was still being filled holds only group files, so DropGroups serves whether the swap happened
// or not: before it, the sibling holds the unfinished new set; after it, the old set, whose files
// other than group files (a user's notes, a subfolder) belong in the group folder still.
bool drainSibling(const std::string& sibling, const std::string& folder, Drain how,
                  std::string* error) {
    int fd = ::open(sibling.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? true : fail(error, describe("cannot open", sibling, errno));
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        int err = errno;
        ::close(fd);
        return fail(error, describe("cannot read", sibling, err));
    }
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    int target = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int firstError = 0;
    std::string failed;
    for (const auto& name : names) {
        int err = 0;
        if (how == Drain::DropGroups && isGroupFileEntry(fd, name))
            err = ::unlinkat(fd, name.c_str(), 0) == 0 ? 0 : errno;
        else
            err = target < 0 ? ENOENT : moveNoReplace(fd, name.c_str(), target);
        if (err && !firstError) {
            firstError = err;
            failed = name;
        }
    }
    if (target >= 0) ::close(target);
    ::closedir(dir);
    if (firstError)
        return fail(error, describe("cannot clear", sibling + "/" + failed, firstError));
    if (::rmdir(sibling.c_str()) != 0 && errno != ENOENT)
        return fail(error, describe("cannot remove", sibling, errno));
    return true;
}

std::string stagingOf(const std::string& folder) {
    return folder + ".incoming";
}
std::string asideOf(const std::string& folder) {
    return folder + ".previous";
}

// With the lock held. A missing group folder beside an aside folder is a fallback switch killed
// between its renames: the old set goes back. So does an empty one, which a process that made
// the program's folders without settling first put there (a whole new set is never empty: a
// group list holds at least one group). Whatever else a sibling holds lost the switch.
bool settleLocked(const std::string& folder, std::string* error) {
    const std::string staging = stagingOf(folder), aside = asideOf(folder);
    if (exists(aside) && (!exists(folder) || ::rmdir(folder.c_str()) == 0) &&
        ::rename(aside.c_str(), folder.c_str()) != 0)
        return fail(error, describe("cannot put back", aside, errno));
    bool ok = drainSibling(staging, folder, Drain::DropGroups, error);
    return drainSibling(aside, folder, Drain::DropGroups, ok ? error : nullptr) && ok;
}

void syncFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes every group file into the fresh staging folder, then flushes them all to disk: the swap
// that follows must never put in place a set that a power cut could empty. One syncfs() does it
// for the whole set; an fsync() per file costs a journal commit each, seconds for a few hundred
// groups on a busy disk.
bool stageGroups(const std::string& staging, mode_t folderMode,
                 const std::vector<GroupBlock>& groups) {
    int dir = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    bool ok = ::fchmod(dir, folderMode) == 0;
    for (size_t i = 0; ok && i < groups.size(); ++i) {
        int fd = ::openat(dir, groupFileName(groups[i].name).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            ok = false;
            break;
        }
        ok = writeAll(fd, groups[i].content) == 0;
        ok = ::close(fd) == 0 && ok;
    }
    ok = ok && ::syncfs(dir) == 0;
    ::close(dir);
    return ok;
}

}  // namespace

namespace {
void reached(std::string_view step) {
    const char* killAt = std::getenv(kSwitchKillStepVariable);
    if (killAt && step == killAt) ::raise(SIGKILL);
}
}  // namespace

GroupFolderLock::GroupFolderLock(const Paths& paths, Mode mode)
    : lock_(paths.dataRoot() + "/GroupRecipients.lock",
            mode == Mode::Exclusive ? FileLock::Mode::Exclusive : FileLock::Mode::Shared) {}

std::string groupStagingFolder(const Paths& paths) {
    return stagingOf(groupFolder(paths));
}

std::string groupAsideFolder(const Paths& paths) {
    return asideOf(groupFolder(paths));
}

bool settleGroupFolder(const Paths& paths, std::string* error) {
    const std::string folder = groupFolder(paths);
    if (!exists(stagingOf(folder)) && !exists(asideOf(folder))) return true;
    // Waits for a switch under way, which clears its own sibling. Without a lock file no switch
    // can be under way at all.
    GroupFolderLock lock(paths, GroupFolderLock::Mode::Exclusive);
    return settleLocked(folder, error);
}

bool replaceGroupSet(const Paths& paths, const std::vector<GroupBlock>& groups,
                     std::string* message, FolderSwap swap) {
    auto failed = [message] { return fail(message, std::string(kMsgFailedToSave)); };
    if (!makeFolders(paths.dataRoot())) return failed();
    GroupFolderLock lock(paths, GroupFolderLock::Mode::Exclusive);
    if (!lock.held()) return failed();

    const std::string folder = groupFolder(paths);
    const std::string staging = stagingOf(folder), aside = asideOf(folder);
    // A leftover that cannot be cleared would mix with this switch; refuse before writing. Only
    // then may a missing group folder be made: an old set aside goes back first.
    if (!settleLocked(folder, nullptr) || !makeFolders(folder)) return failed();

    struct stat st {};
    mode_t mode = ::stat(folder.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0755;
    if (::mkdir(staging.c_str(), 0700) != 0) return failed();
    reached("staging-made");
    auto discard = [&] {
        drainSibling(staging, folder, Drain::DropGroups, nullptr);
        return failed();
    };
    if (!stageGroups(staging, mode, groups)) return discard();
    reached("staged");

    std::string old = staging;
    if (swap == FolderSwap::Exchange &&
        ::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, folder.c_str(), RENAME_EXCHANGE) != 0) {
        if (!flagRefused(errno)) return discard();
        swap = FolderSwap::RenameAside;
    }
    if (swap == FolderSwap::RenameAside) {
        if (::rename(folder.c_str(), aside.c_str()) != 0) return discard();
        reached("old-aside");
        if (::rename(staging.c_str(), folder.c_str()) != 0) {
            // Someone recreated the group folder, and wrote into it, in the instant between the
            // renames. The old set goes back, beside what was written there.
            if (::rename(aside.c_str(), folder.c_str()) != 0)
                drainSibling(aside, folder, Drain::MoveAll, nullptr);
            return discard();
        }
        old = aside;
    }
    reached("new-in-place");
    // The swap lives in the program folder; without this a power cut can bring the old set back.
    syncFolder(folder.substr(0, folder.rfind('/')));
    // The new set is in place; a sibling left here is cleared at the next start.
    drainSibling(old, folder, Drain::DropGroups, nullptr);
    return true;
}

}  // namespace qm
