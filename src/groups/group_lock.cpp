#include "groups/group_lock.h"

#include <cstdint>
#include <cstdio>

#include "common/file_util.h"
#include "config/paths.h"

namespace qm {

std::string GroupLock::lockFilePath(const Paths& paths, std::string_view group) {
    // FNV-1a: stable across processes and builds, unlike std::hash. A collision only makes two
    // groups share a lock, which costs a wait, never a lost change.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : group) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "group-%016llx.lock", static_cast<unsigned long long>(h));
    return paths.dataRoot() + "/GroupLocks/" + name;
}

GroupLock::GroupLock(const Paths& paths, std::string_view group)
    : folder_(paths, GroupFolderLock::Mode::Shared),
      lock_((makeFolders(paths.dataRoot() + "/GroupLocks"), lockFilePath(paths, group)),
            FileLock::Mode::Exclusive) {}

}  // namespace qm
