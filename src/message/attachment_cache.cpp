#include "message/attachment_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/base64.h"

namespace qm {

namespace {

// A whole number of base64 lines, close to the 30,000 bytes the builder reads at a time.
constexpr std::size_t kReadBlock = 526 * 57;

struct Stamp {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
};

bool stampOf(const struct stat& st, Stamp& out) {
    if (!S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxEncodedFileBytes)
        return false;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

std::shared_ptr<const std::string> encodeOpenFile(int fd, const Stamp& stamp) {
    auto text = std::make_shared<std::string>();
    text->reserve(base64LinesSize(stamp.size));
    Base64LineEncoder encoder(*text);
    std::vector<char> block(kReadBlock);
    std::uint64_t total = 0;
    for (;;) {
        ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return nullptr;
        }
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        if (total > kMaxEncodedFileBytes) return nullptr;  // grew while being read
        encoder.feed({block.data(), static_cast<std::size_t>(n)});
    }
    encoder.finish();
    return text;
}

std::shared_ptr<const std::string> encodePath(const std::string& path, Stamp* stampOut) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    Stamp stamp;
    std::shared_ptr<const std::string> text;
    if (::fstat(fd, &st) == 0 && stampOf(st, stamp)) text = encodeOpenFile(fd, stamp);
    ::close(fd);
    if (stampOut) *stampOut = stamp;
    return text;
}

}  // namespace

std::shared_ptr<const std::string> encodeFileLines(const std::string& path) {
    return encodePath(path, nullptr);
}

std::shared_ptr<const std::string> AttachmentCache::encodedLines(const std::string& path) {
    struct stat st {};
    Stamp now;
    if (::stat(path.c_str(), &st) != 0 || !stampOf(st, now)) return nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = entries_.find(path);
        if (it != entries_.end() && it->second.size == now.size &&
            it->second.mtimeNs == now.mtimeNs)
            return it->second.text;
    }
    Stamp read;
    auto text = encodePath(path, &read);
    if (!text) return nullptr;
    ++encodes_;
    std::lock_guard<std::mutex> guard(lock_);
    Entry& entry = entries_[path];
    if (entry.text && entry.size == read.size && entry.mtimeNs == read.mtimeNs) return entry.text;
    entry = {read.size, read.mtimeNs, text};
    return text;
}

}  // namespace qm
