// The attachments of the campaign message.
//
// Parallel lists, one entry per file: the display name (the path after its last "/"), the full
// path, the byte size counted when the file was added, and the embedded flag ('n', or 'y' once
// rewriteInlineImages() found the file referred to by the HTML; the MIME builder then sends it as
// an inline part). No two entries share a display name (exact comparison), and the sizes never add
// up to more than kMaxAttachmentTotal.
//
// Entry points: addFiles() (the "Attach" command), addGeneratedPicture() (pictures of a generated
// page), removeAt(), clear(), resetEmbedded(). Failures are the fixed texts below, returned for the
// caller to show; the list is left consistent whatever happens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::uint64_t kMaxAttachmentTotal = 2097152;

inline constexpr std::string_view kMsgAttachmentsTooLarge =
    "Total size of attachments cannot be greater than 2MB.";
inline constexpr std::string_view kMsgSelectAttachment = "Please select a attachment to remove.";

// The text after the last "/" of a path.
std::string_view fileNameOf(std::string_view path);

class AttachmentList {
  public:
    // Adds the files in order: an unreadable or empty file is skipped, as is a file whose name is
    // already listed; the first file that would take the total past the limit stops the adding
    // and gives kMsgAttachmentsTooLarge. Returns the message to show, empty when none.
    std::string addFiles(const std::vector<std::string>& paths);

    enum class PictureResult { Added, Missing, TooLarge };
    // One picture of a generated page: no duplicate-name check beyond skipping a name already
    // listed, and an empty file is kept (the page refers to it).
    PictureResult addGeneratedPicture(const std::string& path);

    // One file of an EML import: an unreadable file counts 0 bytes and is still listed; a file that
    // would take the total past the limit is not (TooLarge), and the next may still fit.
    PictureResult addImportedFile(const std::string& path);

    // Removes the chosen row; with none chosen returns kMsgSelectAttachment.
    std::string removeAt(std::optional<std::size_t> row);
    void clear();
    // Every embedded flag back to 'n' (done before each run).
    void resetEmbedded();

    std::size_t size() const { return paths_.size(); }
    const std::vector<std::string>& names() const { return names_; }
    const std::vector<std::string>& paths() const { return paths_; }
    std::uint64_t totalSize() const { return total_; }
    const std::string& embedded() const { return embedded_; }
    bool isEmbedded(std::size_t i) const { return i < embedded_.size() && embedded_[i] == 'y'; }
    void setEmbedded(std::size_t i) { embedded_.at(i) = 'y'; }

  private:
    bool hasName(std::string_view name) const;
    void append(const std::string& path, std::uint64_t size);

    std::vector<std::string> names_;
    std::vector<std::string> paths_;
    std::vector<std::uint64_t> sizes_;
    std::string embedded_;
    std::uint64_t total_ = 0;
};

}  // namespace qm
