// Base64 text of attachment files, encoded once per run and shared by every recipient's message.
//
// Entry points: encodedLines() gives a file's content in MIME base64 lines (76 characters, each
// line ending CR LF). An entry is keyed by path and remembers the size and modification time it
// was made from: a file changed since is encoded afresh and replaces the old entry.
// Failure: null when the file cannot be opened, is not a regular file, or is larger than
// kMaxEncodedFileBytes.
// Limits: at most one text per path; the file is read in blocks and never held whole beside its
// encoding.
// Threads: thread-safe; the lock covers only the look-up and the insertion. Two threads that miss
// on the same file at the same moment may both encode it; the first insertion wins and both get
// equal text.
// Standard: RFC 2045 base64 lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qm {

inline constexpr std::uint64_t kMaxEncodedFileBytes = 64ull << 20;

// Reads and encodes `path` without any cache (null on failure).
std::shared_ptr<const std::string> encodeFileLines(const std::string& path);

class AttachmentCache {
  public:
    std::shared_ptr<const std::string> encodedLines(const std::string& path);
    // Files encoded so far (a hit costs none).
    std::uint64_t encodeCount() const { return encodes_.load(); }

  private:
    struct Entry {
        std::uint64_t size = 0;
        std::int64_t mtimeNs = 0;
        std::shared_ptr<const std::string> text;
    };
    std::mutex lock_;
    std::unordered_map<std::string, Entry> entries_;
    std::atomic<std::uint64_t> encodes_{0};
};

}  // namespace qm
