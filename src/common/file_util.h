// Small file helpers shared by every subsystem: read a whole file with a size bound, append,
// make folders, list a folder by suffix. All report failure as false plus a one-line text.
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
