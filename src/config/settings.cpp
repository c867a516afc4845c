#include "config/settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/home_folder.h"

namespace qm {

namespace {

// A settings file is a few hundred bytes; anything near this is not ours.
constexpr std::uint64_t kMaxSettingsFile = 1 << 20;

using Section = SettingsSection;
using Document = SettingsDocument;

std::string escapeValue(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unescapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char n = text[++i];
        if (n == '\\') {
            out += '\\';
        } else if (n == 'r') {
            out += '\r';
        } else if (n == 'n') {
            out += '\n';
        } else if (n == 'x' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            // Unknown escape: keep it as written rather than lose a byte.
            out += '\\';
            out += n;
        }
    }
    return out;
}

}  // namespace

Document parseSettingsText(std::string_view text) {
    Document doc;
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            current = &doc[std::string(line.substr(1, line.size() - 2))];
            continue;
        }
        size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos || eq == 0) continue;
        (*current)[std::string(line.substr(0, eq))] = unescapeValue(line.substr(eq + 1));
    }
    return doc;
}

std::string formatSettingsText(const Document& doc) {
    std::string out = "# Quillmark settings: one [subkey] per key path, Value=data below it.\n";
    for (const auto& [subkey, section] : doc) {
        out += '[' + subkey + "]\n";
        for (const auto& [name, data] : section) {
            std::string line = name + '=' + escapeValue(data);
            // A name from a hand-edited file may open with "[": a value ending in "]" would turn
            // the line into a subkey, and the value would be gone after the next write.
            if (line.front() == '[' && line.back() == ']') {
                line.pop_back();
                line += "\\x5D";
            }
            out += line + '\n';
        }
    }
    return out;
}

namespace {

enum class LoadStatus { Loaded, Missing, Failed };

struct Loaded {
    LoadStatus status = LoadStatus::Missing;
    Document doc;
    std::string error;
};

// Reads the whole file without ever waiting: a FIFO or device put in its place is refused, as is
// anything over kMaxSettingsFile.
Loaded load(const std::string& path) {
    Loaded result;
    auto failed = [&](const std::string& why) {
        result.status = LoadStatus::Failed;
        result.error = "cannot read the settings file " + path + ": " + why;
        return result;
    };
    if (path.empty()) return result;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // Only a file that is not there at all may be written afresh.
        if (errno == ENOENT) return result;
        return failed(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return failed(std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(st.st_size, kMaxSettingsFile)));
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return failed(std::strerror(err));
        }
        if (n == 0) break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxSettingsFile) {
            ::close(fd);
            return failed("larger than " + std::to_string(kMaxSettingsFile >> 10) + " KiB");
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.status = LoadStatus::Loaded;
    result.doc = parseSettingsText(text);
    return result;
}

// Serialises writers inside this process; the lock file does it across processes.
std::mutex& writeMutex() {
    static std::mutex m;
    return m;
}

class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

template <typename Change>
bool modify(const std::string& path, Change change, std::string* error) {
    std::lock_guard guard(writeMutex());
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash), error))
        return false;
    FileLock lock(path + ".lock");
    Loaded loaded = load(path);
    // The rewrite carries every other setting over from what was read; a file that could not be
    // read would be replaced by the one value written, so it is left as it is.
    if (loaded.status == LoadStatus::Failed) {
        if (error) *error = loaded.error;
        return false;
    }
    change(loaded.doc);
    return writeFileAtomic(path, formatSettingsText(loaded.doc), error,
                           {.mode = 0600, .durable = true});
}

}  // namespace

const SettingKey* findSettingKey(std::string_view subkey, std::string_view value) {
    for (const auto& key : keys::kAll)
        if (key.subkey == subkey && key.value == value) return &key;
    return nullptr;
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

std::string SettingsStore::defaultPath(std::string* error) {
    if (const char* p = std::getenv("QUILLMARK_CONFIG"); p && *p) return p;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
        base = x;
    } else {
        std::string home = userHome(error);
        if (home.empty()) return {};
        base = home + "/.config";
    }
    return base + "/quillmark/settings.ini";
}

SettingsStore SettingsStore::open() {
    std::string why;
    SettingsStore store(defaultPath(&why));
    store.unplaced_ = std::move(why);
    return store;
}

std::string SettingsStore::read(std::string_view subkey, std::string_view value,
                                std::size_t readBuffer, std::string_view fallback) const {
    Loaded loaded = load(path_);
    const Document& doc = loaded.doc;
    auto section = doc.find(subkey);
    if (section == doc.end()) return std::string(fallback);
    auto entry = section->second.find(value);
    if (entry == section->second.end() || entry->second.empty()) return std::string(fallback);
    std::string data = entry->second;
    if (readBuffer > 0 && data.size() > readBuffer - 1) data.resize(readBuffer - 1);
    if (data.empty()) return std::string(fallback);
    return data;
}

std::string SettingsStore::read(const SettingKey& key) const {
    return read(key.subkey, key.value, key.readBuffer, key.fallback);
}

bool SettingsStore::readFlag(const SettingKey& key) const {
    return read(key) == "y";
}

bool SettingsStore::hasSubkey(std::string_view subkey) const {
    Document doc = load(path_).doc;
    return doc.find(subkey) != doc.end();
}

bool SettingsStore::placed(std::string* error) const {
    if (!path_.empty()) return true;
    if (error) *error = unplaced_.empty() ? "no settings file" : unplaced_;
    return false;
}

bool SettingsStore::isValidName(std::string_view name) {
    if (name.empty() || name.front() == '#' || name.front() == ';' || name.front() == '[')
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f || c == '=' || c == ']') return false;
    return true;
}

bool SettingsStore::write(std::string_view subkey, std::string_view value, std::string_view text,
                          std::string* error) {
    if (!isValidName(subkey) || !isValidName(value)) {
        if (error) *error = "invalid key name";
        return false;
    }
    const SettingKey* known = findSettingKey(subkey, value);
    const std::size_t capacity = known ? known->capacity() : kDefaultReadBuffer - 1;
    if (text.size() > capacity) {
        if (error)
            *error = "value too long for " + std::string(subkey) + "\\" + std::string(value) +
                     ": it keeps at most " + std::to_string(capacity) +
                     (capacity == 1 ? " byte" : " bytes");
        return false;
    }
    if (!placed(error)) return false;
    return modify(
        path_, [&](Document& doc) { doc[std::string(subkey)][std::string(value)] = text; }, error);
}

bool SettingsStore::write(const SettingKey& key, std::string_view text, std::string* error) {
    return write(key.subkey, key.value, text, error);
}

bool SettingsStore::writeFlag(const SettingKey& key, bool on, std::string* error) {
    return write(key, on ? "y" : "n", error);
}

bool SettingsStore::createSubkey(std::string_view subkey, std::string* error) {
    if (!isValidName(subkey)) {
        if (error) *error = "invalid key name";
        return false;
    }
    if (!placed(error)) return false;
    return modify(
        path_, [&](Document& doc) { doc[std::string(subkey)]; }, error);
}

}  // namespace qm
