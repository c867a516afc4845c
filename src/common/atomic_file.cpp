#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/file_util.h"

namespace qm {

namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool fail(std::string* error, const std::string& what, const std::string& path, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
    errno = err;
    return false;
}

}  // namespace

bool writeFileAtomic(const std::string& path, std::string_view content, std::string* error,
                     AtomicWriteOptions options) {
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fail(error, "cannot create a temporary file for", path, errno);

    // Keep the permissions of the file being replaced (a settings file stays 0600).
    mode_t mode = options.mode;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    ::fchmod(fd, mode);

    if (int err = writeAll(fd, content)) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return fail(error, "cannot write", path, err);
    }
    if (options.durable && ::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return fail(error, "cannot flush", path, err);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, "cannot close", path, err);
    }
    const int renamed = options.noReplace ? ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD,
                                                        path.c_str(), RENAME_NOREPLACE)
                                          : ::rename(tmp.c_str(), path.c_str());
    if (renamed != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, "cannot replace", path, err);
    }
    if (options.durable) {
        // The rename itself lives in the folder; without this a crash can bring the old file back.
        int dfd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    }
    return true;
}

}  // namespace qm
