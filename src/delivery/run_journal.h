// The run journal: what a run was asked to do and how far it got, kept on disk so that a run
// killed at any moment (kill -9, power cut) can be resumed without sending anyone the message
// twice and without losing anyone.
//
// Format: the 8 bytes "QMRUNJ1\n", then records, appended only. A record is a 4-byte little-endian
// payload length, the 4-byte little-endian CRC32C (Castagnoli) of the payload, and the payload,
// whose first byte is its kind:
//   'R' the request (once, first): an opaque text made by the caller (encodeRunRequest());
//   'S' a recipient's offer starts: slot, group, address;
//   'E' a recipient's offer ended: slot, group, address, outcome, reply code, text;
//   'C' a started offer was withdrawn before anything reached the server (the run ended first).
// Strings are a 4-byte length and the bytes; numbers are 4 bytes little-endian. A reader stops at
// the first record that is short, too long or fails its checksum: a torn last record (a write cut
// by a kill) is recognised and ignored, and everything before it is read.
//
// Durability: every record is written at once (a kill -9 loses nothing written), and begin()
// returns only once its record is on disk (fdatasync), so no recipient's MAIL FROM goes out before
// the journal knows the offer started. The syncs are shared: whichever thread finds no sync in
// progress syncs everything written so far, the others wait for it, so fifteen threads pay about
// one sync per batch of offers, not one per recipient. End records ride on the next sync.
//
// The promise kept with it: a recipient with an end record is never offered again; one with a
// start record and no end record may have got the message and is reported as such, never offered
// again; everyone else is offered on resume.
//
// Threads: RunJournal is safe to use from any number of threads. Files: one per run, in the data
// folder's RunJournals folder; a run that ends by itself or through Stop removes its file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qm {

class Paths;
struct RunRequest;

inline constexpr std::string_view kJournalMagic = "QMRUNJ1\n";
inline constexpr std::string_view kStatusMayHaveBeenDelivered =
    "Not Sent (may have been delivered: run interrupted)";

enum class JournalOutcome : std::uint8_t { Sent = 1, Failed = 2, InDoubt = 3 };

std::uint32_t crc32c(std::string_view bytes, std::uint32_t crc = 0);

// The key a recipient is known by in a journal: its group and address.
std::string journalKey(std::string_view group, std::string_view address);

struct JournalEnd {
    int slot = 0;
    std::string group;
    std::string address;
    JournalOutcome outcome = JournalOutcome::Failed;
    int replyCode = 0;
    std::string text;
};

struct JournalContents {
    bool valid = false;  // the magic and a request record were found
    std::string request;
    std::vector<JournalEnd> ended;  // in recording order
    // Started, without an end record (nor a withdrawal): in doubt. Slot, group, address.
    std::vector<JournalEnd> inDoubt;
    std::size_t validBytes = 0;  // where the last whole record ends
    std::size_t sent() const;
    std::size_t failed() const;  // failed, and in doubt once recorded as such
};

// Reads any bytes; a torn or damaged tail is dropped.
JournalContents parseJournal(std::string_view bytes);
bool readJournal(const std::string& path, JournalContents& out, std::string* error = nullptr);

class RunJournal {
  public:
    // A new journal holding `request`, on disk when this returns; null (and `error`) on failure.
    static std::unique_ptr<RunJournal> create(const std::string& path, std::string_view request,
                                              std::string* error = nullptr);
    // Continues a journal after its last whole record (a torn tail is cut off first). Fails while
    // another process holds it, and when it holds more than `validBytes` of whole records.
    static std::unique_ptr<RunJournal> reopen(const std::string& path, std::size_t validBytes,
                                              std::string* error = nullptr);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // The offer starts: durable on return.
    void begin(int slot, std::string_view group, std::string_view address);
    // The offer was withdrawn before any command reached a server.
    void withdraw(int slot, std::string_view group, std::string_view address);
    // The offer ended: written at once, durable with the next sync.
    void end(int slot, std::string_view group, std::string_view address, JournalOutcome outcome,
             int replyCode, std::string_view text);
    void sync();
    // The run is over: the file goes.
    void remove();
    const std::string& path() const { return path_; }
    // Syncs done so far (the benchmark reports them).
    std::uint64_t syncCount() const;

  private:
    RunJournal(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::uint64_t write(std::string_view payload);
    void syncUpTo(std::uint64_t seq);

    const std::string path_;
    int fd_ = -1;
    mutable std::mutex lock_;
    std::condition_variable synced_cv_;
    std::uint64_t written_ = 0;
    std::uint64_t synced_ = 0;
    std::uint64_t syncs_ = 0;
    bool syncing_ = false;
};

// True while a process holds the journal: its run is going on.
bool journalInUse(const std::string& path);

// The folder of a data root's journals, and the unfinished journals in it, newest first.
std::string journalFolder(const Paths& paths);
std::vector<std::string> listJournals(const Paths& paths);
// A new journal path in the folder (made when missing); empty when it cannot be made.
std::string newJournalPath(const Paths& paths);

// The request record of an immediate or test run: the checked message, the typed addresses, the
// chosen groups with the text of each group file as the run read it, and the delivery settings
// without the password (a secret does not go to disk; a resume takes it from the store again).
std::string encodeRunRequest(const RunRequest& request,
                             const std::vector<std::pair<std::string, std::string>>& groupTexts);
// False when the text is not a request record. The group texts come back beside the request.
bool decodeRunRequest(std::string_view text, RunRequest& request,
                      std::vector<std::pair<std::string, std::string>>& groupTexts);

// The reply code at the start of a server line ("450 4.7.1 ..."), 0 when there is none.
int replyCodeOf(std::string_view serverReply);

}  // namespace qm
