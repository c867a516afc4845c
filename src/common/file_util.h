// Small file helpers shared by every subsystem.
//
// Entry points: readFile() (a whole file with a size bound), appendFile(), writeAll(),
// fileExists(), isDirectory(), makeFolders(), listFiles() (a folder by suffix), removeFile().
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

}  // namespace qm
