#include "delivery/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/campaign_run.h"

namespace qm {

namespace {

constexpr std::size_t kHeader = 8;                   // length + checksum
constexpr std::uint32_t kMaxRecord = 256u << 20;     // a request with its group texts stays below
constexpr std::string_view kJournalSuffix = ".qmj";  // unfinished run journals

std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::uint32_t getU32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

void putStr(std::string& out, std::string_view s) {
    putU32(out, static_cast<std::uint32_t>(s.size()));
    out.append(s);
}

// Reads fields from a record; every read fails once anything is short.
struct FieldReader {
    std::string_view in;
    bool ok = true;
    std::uint32_t u32() {
        if (!ok || in.size() < 4) return ok = false, 0;
        std::uint32_t v = getU32(in.data());
        in.remove_prefix(4);
        return v;
    }
    std::string str() {
        std::uint32_t n = u32();
        if (!ok || in.size() < n) return ok = false, std::string();
        std::string s(in.substr(0, n));
        in.remove_prefix(n);
        return s;
    }
};

std::string recipientRecord(char kind, int slot, std::string_view group, std::string_view address) {
    std::string p(1, kind);
    putU32(p, static_cast<std::uint32_t>(slot));
    putStr(p, group);
    putStr(p, address);
    return p;
}

}  // namespace

std::uint32_t crc32c(std::string_view bytes, std::uint32_t crc) {
    static const auto table = makeCrcTable();
    crc = ~crc;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::string journalKey(std::string_view group, std::string_view address) {
    std::string key(group);
    key.push_back('\n');
    key.append(address);
    return key;
}

std::size_t JournalContents::sent() const {
    return static_cast<std::size_t>(std::count_if(ended.begin(), ended.end(), [](const auto& e) {
        return e.outcome == JournalOutcome::Sent;
    }));
}

std::size_t JournalContents::failed() const {
    return ended.size() - sent();
}

JournalContents parseJournal(std::string_view bytes) {
    JournalContents out;
    if (bytes.substr(0, kJournalMagic.size()) != kJournalMagic) return out;
    std::size_t pos = kJournalMagic.size();
    // Offers started and not yet ended, by key, with their place in `open` for the order.
    std::unordered_map<std::string, std::size_t> openAt;
    std::vector<std::optional<JournalEnd>> open;
    bool first = true;
    for (;;) {
        out.validBytes = pos;
        if (bytes.size() - pos < kHeader) break;
        const std::uint32_t len = getU32(bytes.data() + pos);
        const std::uint32_t sum = getU32(bytes.data() + pos + 4);
        if (len == 0 || len > kMaxRecord || bytes.size() - pos - kHeader < len) break;
        std::string_view payload = bytes.substr(pos + kHeader, len);
        if (crc32c(payload) != sum) break;
        const char kind = payload[0];
        FieldReader r{payload.substr(1)};
        if (first) {
            if (kind != 'R') break;
            out.request = r.str();
            if (!r.ok) break;
            out.valid = true;
            first = false;
            pos += kHeader + len;
            continue;
        }
        JournalEnd e;
        e.slot = static_cast<int>(r.u32());
        e.group = r.str();
        e.address = r.str();
        if (kind == 'E') {
            const std::uint32_t outcome = r.u32();
            e.outcome = outcome == 1   ? JournalOutcome::Sent
                        : outcome == 3 ? JournalOutcome::InDoubt
                                       : JournalOutcome::Failed;
            e.replyCode = static_cast<int>(r.u32());
            e.text = r.str();
        }
        if (!r.ok || (kind != 'S' && kind != 'E' && kind != 'C')) break;
        const std::string key = journalKey(e.group, e.address);
        if (kind == 'S') {
            openAt[key] = open.size();
            open.emplace_back(std::move(e));
        } else {
            if (auto it = openAt.find(key); it != openAt.end()) {
                open[it->second].reset();
                openAt.erase(it);
            }
            if (kind == 'E') out.ended.push_back(std::move(e));
        }
        pos += kHeader + len;
    }
    for (auto& e : open)
        if (e) out.inDoubt.push_back(std::move(*e));
    return out;
}

bool readJournal(const std::string& path, JournalContents& out, std::string* error) {
    std::string bytes;
    if (!readFile(path, bytes, error)) return false;
    out = parseJournal(bytes);
    if (!out.valid && error) *error = "not a run journal";
    return out.valid;
}

std::unique_ptr<RunJournal> RunJournal::create(const std::string& path, std::string_view request,
                                               std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    // Held while the run lives: no other process resumes or discards a run that is still going.
    lockDescriptor(fd, LOCK_EX);
    std::unique_ptr<RunJournal> j(new RunJournal(path, fd));
    std::string first(kJournalMagic);
    std::string payload(1, 'R');
    putStr(payload, request);
    putU32(first, static_cast<std::uint32_t>(payload.size()));
    putU32(first, crc32c(payload));
    first += payload;
    if (writeAll(fd, first) != 0 || ::fdatasync(fd) != 0) {
        if (error) *error = std::strerror(errno);
        j->remove();
        return nullptr;
    }
    // The new name must survive a power cut as well as the bytes.
    std::string folder = path.substr(0, path.rfind('/'));
    if (int dir = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return j;
}

std::unique_ptr<RunJournal> RunJournal::reopen(const std::string& path, std::size_t validBytes,
                                               std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    auto failWith = [&](std::string text) -> std::unique_ptr<RunJournal> {
        if (error) *error = std::move(text);
        ::close(fd);
        return nullptr;
    };
    if (!lockDescriptor(fd, LOCK_EX | LOCK_NB)) return failWith("the run is still in progress");
    // What the caller read must still be what the file holds: another resume may have gone on
    // with it between the read and the lock, and cutting its records would forget offers.
    std::string bytes;
    if (!readFile(path, bytes) || parseJournal(bytes).validBytes != validBytes)
        return failWith("the journal changed since it was read; resume again");
    if (::ftruncate(fd, static_cast<off_t>(validBytes)) != 0 || ::fdatasync(fd) != 0)
        return failWith(std::strerror(errno));
    return std::unique_ptr<RunJournal>(new RunJournal(path, fd));
}

RunJournal::~RunJournal() {
    if (fd_ >= 0) ::close(fd_);
}

std::uint64_t RunJournal::write(std::string_view payload) {
    std::string record;
    record.reserve(kHeader + payload.size());
    putU32(record, static_cast<std::uint32_t>(payload.size()));
    putU32(record, crc32c(payload));
    record.append(payload);
    std::lock_guard guard(lock_);
    // One write per record under the lock: records never interleave, and a kill cuts at most the
    // last one.
    if (fd_ >= 0) writeAll(fd_, record);
    return ++written_;
}

void RunJournal::syncUpTo(std::uint64_t seq) {
    std::unique_lock guard(lock_);
    while (synced_ < seq) {
        if (syncing_) {
            synced_cv_.wait(guard);
            continue;
        }
        syncing_ = true;
        const std::uint64_t target = written_;
        guard.unlock();
        if (fd_ >= 0) ::fdatasync(fd_);
        guard.lock();
        synced_ = target;
        ++syncs_;
        syncing_ = false;
        synced_cv_.notify_all();
    }
}

void RunJournal::begin(int slot, std::string_view group, std::string_view address) {
    syncUpTo(write(recipientRecord('S', slot, group, address)));
}

void RunJournal::withdraw(int slot, std::string_view group, std::string_view address) {
    write(recipientRecord('C', slot, group, address));
}

void RunJournal::end(int slot, std::string_view group, std::string_view address,
                     JournalOutcome outcome, int replyCode, std::string_view text) {
    std::string p = recipientRecord('E', slot, group, address);
    putU32(p, static_cast<std::uint32_t>(outcome));
    putU32(p, static_cast<std::uint32_t>(std::max(replyCode, 0)));
    putStr(p, text);
    write(p);
}

void RunJournal::sync() {
    std::uint64_t seq;
    {
        std::lock_guard guard(lock_);
        seq = written_;
    }
    syncUpTo(seq);
}

void RunJournal::remove() {
    std::lock_guard guard(lock_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    removeFile(path_);
}

std::uint64_t RunJournal::syncCount() const {
    std::lock_guard guard(lock_);
    return syncs_;
}

bool journalInUse(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = lockDescriptor(fd, LOCK_EX | LOCK_NB);
    ::close(fd);
    return !free;
}

std::string journalFolder(const Paths& paths) {
    return paths.dataRoot() + "/RunJournals";
}

std::vector<std::string> listJournals(const Paths& paths) {
    std::vector<std::string> names = listFiles(journalFolder(paths), kJournalSuffix);
    // Names start with the zero-padded start time: newest first is the reverse of name order.
    std::sort(names.rbegin(), names.rend());
    for (auto& n : names) n = journalFolder(paths) + "/" + n;
    return names;
}

std::string newJournalPath(const Paths& paths) {
    const std::string folder = journalFolder(paths);
    if (!makeFolders(folder)) return {};
    static std::atomic<unsigned> counter{0};
    char name[96];
    std::snprintf(name, sizeof name, "/run-%012lld-%d-%u%s",
                  static_cast<long long>(std::time(nullptr)), static_cast<int>(::getpid()),
                  counter.fetch_add(1), std::string(kJournalSuffix).c_str());
    return folder + name;
}

int replyCodeOf(std::string_view line) {
    if (line.size() < 3) return 0;
    for (int i = 0; i < 3; ++i)
        if (line[i] < '0' || line[i] > '9') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// The request record: "QMREQ1", then fields in a fixed order. A field added later goes at the end,
// so a reader can tell an older record by its running out.
std::string encodeRunRequest(const RunRequest& r,
                             const std::vector<std::pair<std::string, std::string>>& groupTexts) {
    std::string out = "QMREQ1";
    const CampaignMessage& m = r.message;
    putStr(out, m.senderAddress);
    putStr(out, m.senderName);
    putStr(out, m.subject);
    putU32(out, static_cast<std::uint32_t>(m.format));
    putStr(out, m.htmlText);
    putStr(out, m.plainText);
    putU32(out, m.useDynamicVariables);
    putStr(out, m.body);
    putStr(out, m.unsubscribeAddress);
    putU32(out, static_cast<std::uint32_t>(m.unsubscribeScope));
    putStr(out, m.unsubscribeUrl);
    putU32(out, static_cast<std::uint32_t>(m.textPart));
    putU32(out, static_cast<std::uint32_t>(m.attachments.size()));
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        putStr(out, m.attachments.paths()[i]);
        putU32(out, m.attachments.isEmbedded(i));
    }
    putU32(out, static_cast<std::uint32_t>(r.typed.size()));
    for (const auto& a : r.typed) putStr(out, a);
    putU32(out, static_cast<std::uint32_t>(r.groups.size()));
    for (const auto& g : r.groups) putStr(out, g);
    putU32(out, static_cast<std::uint32_t>(groupTexts.size()));
    for (const auto& [g, text] : groupTexts) {
        putStr(out, g);
        putStr(out, text);
    }
    const DeliverySettings& d = r.delivery;
    putU32(out, d.mxMode);
    putStr(out, d.server);
    putU32(out, d.port);
    putU32(out, d.authenticate);
    putStr(out, d.userName);
    putU32(out, static_cast<std::uint32_t>(d.security));
    putU32(out, d.verifyCert);
    putU32(out, static_cast<std::uint32_t>(d.mxOrder));
    putU32(out, static_cast<std::uint32_t>(d.threadCount));
    putU32(out, static_cast<std::uint32_t>(d.waitSeconds));
    putU32(out, static_cast<std::uint32_t>(d.perConnection));
    putU32(out, d.rate.count);
    putU32(out, static_cast<std::uint32_t>(d.rate.unit));
    putU32(out, r.autoUnsubscribe);
    putU32(out, r.mxStartTls);
    putStr(out, r.caFile);
    putU32(out, static_cast<std::uint32_t>(r.mxPort));
    for (std::size_t i = 0; i < kSmtpStageCount; ++i)
        putU32(out, static_cast<std::uint32_t>(r.timeouts.limit[i].count()));
    putU32(out, static_cast<std::uint32_t>(r.rateBackoff.count()));
    return out;
}

bool decodeRunRequest(std::string_view text, RunRequest& r,
                      std::vector<std::pair<std::string, std::string>>& groupTexts) {
    if (text.substr(0, 6) != "QMREQ1") return false;
    FieldReader in{text.substr(6)};
    auto small = [&in](std::uint32_t limit) {
        std::uint32_t v = in.u32();
        if (v > limit) in.ok = false;
        return v;
    };
    CampaignMessage& m = r.message;
    m.senderAddress = in.str();
    m.senderName = in.str();
    m.subject = in.str();
    m.format = small(1) ? MessageFormat::PlainText : MessageFormat::Html;
    m.htmlText = in.str();
    m.plainText = in.str();
    m.useDynamicVariables = small(1);
    m.body = in.str();
    m.unsubscribeAddress = in.str();
    m.unsubscribeScope = small(1) ? UnsubscribeScope::AllGroups : UnsubscribeScope::SingleGroup;
    m.unsubscribeUrl = in.str();
    m.textPart = small(1) ? TextPartStyle::Readable : TextPartStyle::HtmlSource;
    m.attachments.clear();
    const std::uint32_t files = small(10000);
    for (std::uint32_t i = 0; in.ok && i < files; ++i) {
        std::string path = in.str();
        bool embedded = small(1);
        if (!in.ok) break;
        // A file gone since the run started is listed with no bytes, as an imported message's
        // missing file is: the resumed run sends what it can read, like the first part did.
        m.attachments.addImportedFile(path);
        if (embedded && m.attachments.size() == i + 1) m.attachments.setEmbedded(i);
    }
    auto list = [&](std::vector<std::string>& out) {
        out.clear();
        const std::uint32_t n = small(10'000'000);
        for (std::uint32_t i = 0; in.ok && i < n; ++i) out.push_back(in.str());
    };
    list(r.typed);
    list(r.groups);
    groupTexts.clear();
    const std::uint32_t texts = small(1'000'000);
    for (std::uint32_t i = 0; in.ok && i < texts; ++i) {
        std::string g = in.str();
        std::string t = in.str();
        groupTexts.emplace_back(std::move(g), std::move(t));
    }
    DeliverySettings& d = r.delivery;
    d.mxMode = small(1);
    d.server = in.str();
    d.port = small(65535);
    d.authenticate = small(1);
    d.userName = in.str();
    d.security = static_cast<ConnectionSecurity>(small(2));
    d.verifyCert = small(1);
    d.mxOrder = small(1) ? MxOrder::ByPreference : MxOrder::AsAnswered;
    d.threadCount = static_cast<int>(small(1000));
    d.waitSeconds = static_cast<int>(small(1000));
    d.perConnection = static_cast<int>(small(100000));
    d.rate.count = small(10'000'000);
    d.rate.unit = small(1) ? RateUnit::Hour : RateUnit::Minute;
    r.autoUnsubscribe = small(1);
    r.mxStartTls = small(1);
    r.caFile = in.str();
    r.mxPort = static_cast<int>(small(65535));
    for (std::size_t i = 0; i < kSmtpStageCount; ++i)
        r.timeouts.limit[i] = std::chrono::milliseconds(in.u32());
    r.rateBackoff = std::chrono::milliseconds(in.u32());
    return in.ok;
}

}  // namespace qm
