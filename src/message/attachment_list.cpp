#include "message/attachment_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace qm {

namespace {

// Size of a regular file that can be opened for reading.
std::optional<std::uint64_t> readableSize(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!ok) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

std::string_view fileNameOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool AttachmentList::hasName(std::string_view name) const {
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

void AttachmentList::append(const std::string& path, std::uint64_t size) {
    names_.emplace_back(fileNameOf(path));
    paths_.push_back(path);
    sizes_.push_back(size);
    embedded_ += 'n';
    total_ += size;
}

std::string AttachmentList::addFiles(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        std::uint64_t size = readableSize(path).value_or(0);
        if (size == 0 || hasName(fileNameOf(path))) continue;
        if (total_ + size > kMaxAttachmentTotal) return std::string(kMsgAttachmentsTooLarge);
        append(path, size);
    }
    return {};
}

AttachmentList::PictureResult AttachmentList::addGeneratedPicture(const std::string& path) {
    auto size = readableSize(path);
    if (!size) return PictureResult::Missing;
    if (total_ + *size > kMaxAttachmentTotal) return PictureResult::TooLarge;
    // Two pictures of one name would share one content identifier.
    if (!hasName(fileNameOf(path))) append(path, *size);
    return PictureResult::Added;
}

AttachmentList::PictureResult AttachmentList::addImportedFile(const std::string& path) {
    std::uint64_t size = readableSize(path).value_or(0);
    if (total_ + size > kMaxAttachmentTotal) return PictureResult::TooLarge;
    append(path, size);
    return PictureResult::Added;
}

std::string AttachmentList::removeAt(std::optional<std::size_t> row) {
    if (!row || *row >= paths_.size()) return std::string(kMsgSelectAttachment);
    // The size counted when the file was added, so the total stays the sum of the rows even when
    // the file has changed since.
    total_ -= sizes_[*row];
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(*row));
    paths_.erase(paths_.begin() + static_cast<std::ptrdiff_t>(*row));
    sizes_.erase(sizes_.begin() + static_cast<std::ptrdiff_t>(*row));
    embedded_.erase(*row, 1);
    return {};
}

void AttachmentList::clear() {
    names_.clear();
    paths_.clear();
    sizes_.clear();
    embedded_.clear();
    total_ = 0;
}

void AttachmentList::resetEmbedded() {
    embedded_.assign(paths_.size(), 'n');
}

}  // namespace qm
