#include "scheduler/outbox.h"

#include <unordered_set>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"

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

std::string writeOutbox(const Paths& paths, const OutboxRun& run, std::time_t when) {
    if (!makeFolders(paths.outbox())) return std::string(kOutboxError);
    std::string name = outboxFileName(when);
    std::string stem = paths.outbox() + "/" + name.substr(0, name.size() - 3);
    std::string path;
    for (int n = 1; n < 10000 && path.empty(); ++n) {
        std::string candidate = stem + (n == 1 ? "" : "_" + std::to_string(n)) + ".ml";
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            path = candidate;
        } else if (errno != EEXIST) {
            return std::string(kOutboxError);
        }
    }
    if (path.empty()) return std::string(kOutboxError);
    if (!writeFileAtomic(path, buildOutbox(run))) {
        removeFile(path);
        return std::string(kOutboxError);
    }
    return path;
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
