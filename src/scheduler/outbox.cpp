#include "scheduler/outbox.h"

#include <filesystem>
#include <system_error>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "message/attachment_list.h"

namespace qm {

namespace {

constexpr std::string_view kSenderMark = "~!~SenderInformation";
constexpr std::string_view kReceiversMark = "~!~Recievers";
constexpr std::string_view kContentMark = "~!~Content";
constexpr std::string_view kFieldMark = "~***~";
constexpr std::string_view kBodyEnd = "~***~\r\n";
constexpr std::string_view kEscapeAfter = "~***";
// Every field of a stored run is small except the recipient list of large groups and the body.
constexpr std::uint64_t kReadLimit = 256ull << 20;

bool endsWithEscapePrefix(const std::string& s) {
    return s.size() >= kEscapeAfter.size() &&
           std::string_view(s).substr(s.size() - kEscapeAfter.size()) == kEscapeAfter;
}

std::string escapeBody(std::string_view body) {
    std::string out;
    out.reserve(body.size() + 8);
    for (char c : body) {
        if ((c == '~' || c == '!') && endsWithEscapePrefix(out)) out += '!';
        out += c;
    }
    return out;
}

std::string unescapeBody(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    bool dropped = false;
    for (char c : stored) {
        // The writer's "!" comes right after "~***"; the byte after it is the body's own.
        if (c == '!' && !dropped && endsWithEscapePrefix(out)) {
            dropped = true;
            continue;
        }
        dropped = false;
        out += c;
    }
    return out;
}

// Takes the text up to the next CR LF; false when there is none.
bool takeLine(std::string_view text, std::size_t& pos, std::string_view& line) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) return false;
    line = text.substr(pos, end - pos);
    pos = end + 2;
    return true;
}

std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string_view::npos) end = text.size();
        if (end > pos) out.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

}  // namespace

std::string buildOutbox(const OutboxRun& run) {
    std::string out;
    out.reserve(run.body.size() + run.recipients.size() + 256);
    auto line = [&](std::string_view s) {
        out += s;
        out += "\r\n";
    };
    line(kSenderMark);
    line(lineEndsToBlanks(run.senderName));
    line(std::string(kFieldMark) + lineEndsToBlanks(run.senderAddress));
    line(kReceiversMark);
    line(lineEndsToBlanks(run.recipients));
    line(kContentMark);
    line(lineEndsToBlanks(run.subject));
    out += escapeBody(run.body);
    out += kBodyEnd;
    std::string joined;
    for (std::size_t i = 0; i < run.attachments.size(); ++i) {
        if (i) joined += ';';
        joined += run.attachments[i];
    }
    line(lineEndsToBlanks(joined));
    line(run.html ? "true" : "false");
    out += lineEndsToBlanks(run.embeddedFlags);
    return out;
}

bool parseOutbox(std::string_view text, OutboxRun& out) {
    out = OutboxRun{};
    std::size_t pos = 0;
    std::string_view line;
    if (!takeLine(text, pos, line) || line != kSenderMark) return false;
    if (!takeLine(text, pos, line)) return false;
    out.senderName = line;
    if (!takeLine(text, pos, line) || line.substr(0, kFieldMark.size()) != kFieldMark) return false;
    out.senderAddress = line.substr(kFieldMark.size());
    if (!takeLine(text, pos, line) || line != kReceiversMark) return false;
    if (!takeLine(text, pos, line)) return false;
    out.recipients = line;
    if (!takeLine(text, pos, line) || line != kContentMark) return false;
    if (!takeLine(text, pos, line)) return false;
    out.subject = line;
    std::size_t end = text.find(kBodyEnd, pos);
    if (end == std::string_view::npos) return false;
    out.body = unescapeBody(text.substr(pos, end - pos));
    pos = end + kBodyEnd.size();
    if (!takeLine(text, pos, line)) return false;
    out.attachments = splitList(line);
    if (!takeLine(text, pos, line)) return false;
    out.html = line.find("true") != std::string_view::npos;
    out.embeddedFlags = text.substr(pos);
    return true;
}

std::string outboxFileName(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    std::size_t n = std::strftime(stamp, sizeof stamp, "%y%j%H%M%S", &tm);
    return "EmailFile" + std::string(stamp, n) + ".ml";
}

namespace {

constexpr std::string_view kMl = ".ml";
constexpr std::string_view kFilesSuffix = ".files";
constexpr std::string_view kStagingPrefix = ".staging-";

// Claims a new outbox file name with O_EXCL (an empty file); empty when none can be had.
std::string claimOutboxName(const Paths& paths, std::time_t when) {
    if (!makeFolders(paths.outbox())) return {};
    std::string name = outboxFileName(when);
    std::string stem = paths.outbox() + "/" + name.substr(0, name.size() - kMl.size());
    for (int n = 1; n < 10000; ++n) {
        std::string candidate = stem + (n == 1 ? "" : "_" + std::to_string(n)) + ".ml";
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

std::string errnoText(int err) {
    return std::strerror(err);
}

bool syncPath(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Copies `from` to the new file `to` and flushes it; the errno of the failure, else 0.
int copyFile(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = ::fstat(in, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(in);
        return err;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        if ((err = writeAll(out, std::string_view(buf, static_cast<std::size_t>(n)))) != 0) break;
    }
    if (err == 0 && ::fsync(out) != 0) err = errno;
    ::close(in);
    if (::close(out) != 0 && err == 0) err = errno;
    return err;
}

// Staging folders are used only under the schedule's file lock, which the caller holds, so any
// one found now is what a killed store left.
void clearStaging(const std::string& outbox) {
    DIR* d = ::opendir(outbox.c_str());
    if (!d) return;
    std::vector<std::string> left;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name.substr(0, kStagingPrefix.size()) == kStagingPrefix)
            left.push_back(outbox + "/" + std::string(name));
    }
    ::closedir(d);
    for (const std::string& path : left) removeTree(path);
}

}  // namespace

std::string writeOutbox(const Paths& paths, const OutboxRun& run, std::time_t when) {
    std::string path = claimOutboxName(paths, when);
    if (path.empty()) return std::string(kOutboxError);
    if (!writeFileAtomic(path, buildOutbox(run))) {
        removeFile(path);
        return std::string(kOutboxError);
    }
    return path;
}

std::string outboxFilesFolder(std::string_view outboxPath) {
    if (outboxPath.size() <= kMl.size() || outboxPath.substr(outboxPath.size() - kMl.size()) != kMl)
        return {};
    return std::string(outboxPath.substr(0, outboxPath.size() - kMl.size())) +
           std::string(kFilesSuffix);
}

bool removeOutboxFiles(std::string_view outboxPath) {
    std::string folder = outboxFilesFolder(outboxPath);
    if (folder.empty()) return true;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return !ec;
}

OutboxStore storeOutbox(const Paths& paths, OutboxRun run, std::time_t when,
                        const OutboxStepHook& step) {
    OutboxStore out;
    std::string path = claimOutboxName(paths, when);
    if (path.empty()) {
        out.status = OutboxStoreStatus::Unwritable;
        return out;
    }
    std::string folder;
    if (!run.attachments.empty()) {
        clearStaging(paths.outbox());
        auto refuse = [&](const std::string& what, int err, const std::string& staging) {
            if (!staging.empty()) removeTree(staging);
            removeFile(path);
            out.status = OutboxStoreStatus::CopyFailed;
            out.message = std::string(kMsgAttachmentNotCopied) + what + " (" + errnoText(err) + ")";
            return out;
        };
        std::string tmpl = paths.outbox() + "/" + std::string(kStagingPrefix) + "XXXXXX";
        if (!::mkdtemp(tmpl.data())) return refuse(paths.outbox(), errno, {});
        const std::string staging = tmpl;
        ::chmod(staging.c_str(), 0755);
        folder = outboxFilesFolder(path);
        std::unordered_set<std::string> taken, dirs;  // relative names of files, subfolders
        std::vector<std::string> copies;
        for (const std::string& from : run.attachments) {
            std::string name(fileNameOf(from));
            if (name.empty() || name == "." || name == "..") name = "file";
            std::string rel = name;
            for (int n = 2; taken.count(rel) || dirs.count(rel); ++n) {
                const std::string sub = std::to_string(n);
                if (taken.count(sub)) continue;  // a file has that name
                rel = sub + "/" + name;
                if (taken.count(rel)) continue;
                if (dirs.insert(sub).second && ::mkdir((staging + "/" + sub).c_str(), 0755) != 0)
                    return refuse(from, errno, staging);
            }
            taken.insert(rel);
            if (int err = copyFile(from, staging + "/" + rel)) return refuse(from, err, staging);
            copies.push_back(folder + "/" + rel);
            if (step) step("copied");
        }
        for (const std::string& sub : dirs) syncPath(staging + "/" + sub);
        if (!syncPath(staging)) return refuse(staging, errno, staging);
        if (step) step("staged");
        if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, folder.c_str(), RENAME_NOREPLACE) != 0)
            return refuse(folder, errno, staging);
        syncPath(paths.outbox());
        if (step) step("placed");
        run.attachments = std::move(copies);
    }
    if (!writeFileAtomic(path, buildOutbox(run))) {
        if (!folder.empty()) removeTree(folder);
        removeFile(path);
        out.status = OutboxStoreStatus::Unwritable;
        return out;
    }
    out.path = path;
    return out;
}

bool readOutbox(const std::string& path, OutboxRun& out) {
    std::string text;
    if (!readFile(path, text, nullptr, kReadLimit)) return false;
    return parseOutbox(text, out);
}

std::vector<std::string> outboxRecipientList(std::string_view recipients) {
    return splitList(recipients);
}

std::string buildOutboxRecipients(const std::vector<std::string>& typed,
                                  const std::vector<std::vector<Recipient>>& groups) {
    std::string list;
    // Exact addresses already listed: a substring test would drop "ob@x.com" after "bob@x.com".
    std::unordered_set<std::string_view> listed;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (i) list += ';';
        list += typed[i];
        listed.insert(typed[i]);
    }
    for (const auto& members : groups) {
        for (const auto& r : members) {
            if (r.status != RecipientStatus::Enabled || r.email.empty()) continue;
            if (!listed.insert(r.email).second) continue;
            if (!list.empty()) list += ';';
            list += r.email;
        }
    }
    return list;
}

}  // namespace qm
