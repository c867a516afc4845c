#include "groups/group_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "common/file_util.h"
#include "config/paths.h"
#include "groups/group_folder.h"

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
    : folder_(std::make_unique<GroupFolderLock>(paths, GroupFolderLock::Mode::Shared)) {
    std::string path = lockFilePath(paths, group);
    makeFolders(paths.dataRoot() + "/GroupLocks");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

GroupLock::GroupLock(GroupLock&& other) noexcept
    : folder_(std::move(other.folder_)), fd_(other.fd_) {
    other.fd_ = -1;
}

GroupLock::~GroupLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
    folder_.reset();
}

}  // namespace qm
