#include "common/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

bool fail(std::string* error, const std::string& what, const std::string& path, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
    return false;
}

}  // namespace

bool readFile(const std::string& path, std::string& out, std::string* error, std::uint64_t limit) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(error, "cannot read", path, EISDIR);
    }
    if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) <= limit)
        out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            out.clear();
            return fail(error, "cannot read", path, err);
        }
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > limit) {
            ::close(fd);
            out.clear();
            if (error) *error = "file too large: " + path;
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool appendFile(const std::string& path, std::string_view content, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot open", path, errno);
    if (int err = writeAll(fd, content)) {
        ::close(fd);
        return fail(error, "cannot write", path, err);
    }
    if (::close(fd) != 0) return fail(error, "cannot close", path, errno);
    return true;
}

bool appendLines(const std::string& path, std::string_view lines, std::string* error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot open", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail(error, "cannot read", path, err);
    }
    const off_t oldSize = st.st_size;
    // A last line without its end would swallow the first appended one.
    std::string_view lineEnd;
    if (oldSize > 0) {
        char last = 0;
        ssize_t n;
        while ((n = ::pread(fd, &last, 1, oldSize - 1)) < 0 && errno == EINTR) {
        }
        if (n != 1) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            return fail(error, "cannot read", path, err);
        }
        if (last == '\r')
            lineEnd = "\n";
        else if (last != '\n')
            lineEnd = "\r\n";
    }
    int err = writeAll(fd, lineEnd);
    if (err == 0) err = writeAll(fd, lines);
    if (err != 0) {
        // A half line left behind would join the next append's first line: cut it off.
        while (::ftruncate(fd, oldSize) != 0 && errno == EINTR) {
        }
        ::close(fd);
        return fail(error, "cannot write", path, err);
    }
    if (::close(fd) != 0) {
        err = errno;
        while (::truncate(path.c_str(), oldSize) != 0 && errno == EINTR) {
        }
        return fail(error, "cannot close", path, err);
    }
    return true;
}

int writeAll(int fd, std::string_view data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

bool lockDescriptor(int fd, int op) {
    int rc;
    while ((rc = ::flock(fd, op)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

FileLock::FileLock(const std::string& path, Mode mode, Wait wait) {
    // Read access is enough for flock, and works where the lock file is not writable.
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const int op = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | (wait == Wait::No ? LOCK_NB : 0);
    if (!lockDescriptor(fd, op)) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeFolders(const std::string& path, std::string* error) {
    if (path.empty()) return true;
    if (isDirectory(path)) return true;
    std::string partial;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty() && !isDirectory(partial)) {
            // EEXIST is fine only when what exists is a folder (another process made it): a
            // file of that name is no folder to write into.
            if (::mkdir(partial.c_str(), 0755) != 0) {
                const int e = errno;
                if (e != EEXIST || !isDirectory(partial))
                    return fail(error, "cannot create folder", partial, e == EEXIST ? ENOTDIR : e);
            }
        }
        pos = slash + 1;
    }
    return true;
}

std::vector<std::string> listFiles(const std::string& folder, std::string_view suffix) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.size() < suffix.size() || name.substr(name.size() - suffix.size()) != suffix)
            continue;
        std::string full = folder + "/" + std::string(name);
        if (fileExists(full)) names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace qm
