// Small file helpers shared by every subsystem.
//
// Entry points: readFile() (a whole file with a size bound), appendFile(), appendLines() (whole
// lines, undone when a write fails), writeAll(), fileExists(), isDirectory(), makeFolders(),
// listFiles() (a folder by suffix), removeFile(), FileLock (an flock(2) on a lock file, held while
// the object lives).
// Failure: false plus a one-line text (writeAll: the errno); nothing throws.
// Limits: readFile() refuses files over its bound (kDefaultReadLimit unless the caller passes one).
// Threads: callable from any thread; no shared state.
// Standard: POSIX file calls, EINTR retried.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Files larger than this are refused by readFile() unless the caller passes its own bound; no
// file this program keeps comes near it, so a larger one is bad input, not data.
inline constexpr std::uint64_t kDefaultReadLimit = 1ull << 30;

bool readFile(const std::string& path, std::string& out, std::string* error = nullptr,
              std::uint64_t limit = kDefaultReadLimit);
bool appendFile(const std::string& path, std::string_view content, std::string* error = nullptr);
// Appends whole `lines` (each with its line end) to a text file, created when missing. When the
// file's last byte is not a line end, one goes first (CR LF, or LF after a lone CR). A write that
// fails part-way (disk full) is undone: the file is cut back to its old length, byte for byte as it
// was. The caller holds whatever lock guards the file.
bool appendLines(const std::string& path, std::string_view lines, std::string* error = nullptr);
bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
// Creates the folder and every missing parent (mode 0755).
bool makeFolders(const std::string& path, std::string* error = nullptr);
// Names (not paths) of the regular files in `folder` whose names end in `suffix`, unsorted.
std::vector<std::string> listFiles(const std::string& folder, std::string_view suffix);
bool removeFile(const std::string& path);
// Writes all of `data` to `fd`, retrying short writes and EINTR. Returns 0, or the errno of the
// failed write.
int writeAll(int fd, std::string_view data);

// flock(2) on an open descriptor, retrying EINTR. `op` is LOCK_SH or LOCK_EX, with LOCK_NB or not.
bool lockDescriptor(int fd, int op);

// An flock(2) on `path` (created when missing, never deleted: deleting it would let a second
// holder lock a fresh file while the first still holds the old one). flock locks belong to an open
// file, so two FileLocks exclude each other inside one process as between processes.
class FileLock {
  public:
    enum class Mode { Shared, Exclusive };
    enum class Wait { Yes, No };  // No: not held when someone else holds it
    FileLock(const std::string& path, Mode mode, Wait wait = Wait::Yes);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock& operator=(FileLock&&) = delete;

    // False when the file cannot be opened, or with Wait::No when another holder has it.
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace qm
