// One run of unsubscribe (or subscribe) retrieval: read every message of the mailbox, take each
// sender's address, record it, write the harvested list to the output file and, in subscribe
// mode, add the new addresses to the chosen groups.
//
// Entry points: RetrievalRun(paths, request, observer); run() on the worker thread; stop() from
// any thread (the Stop command: the run notices it before each message and each output line, and
// a network wait in progress ends at once); checkRetrievalInput() for the screen's checks.
//
// Unsubscribe mode files each sender under the group its subject names (requestedGroup()).
// Subscribe mode records nothing in the unsubscriber store: a subscriber filed under the group
// "1" would be skipped by every later run with AutoUnsubscribe on.
//
// Failure: the run ends with an outcome and, for Failed, the text to show (the POP3 client's
// lastError(), "Unable to save file." and the like). An address that cannot be recorded in the
// unsubscriber store ends the run at that message with the store's text, once: the next messages
// would fail the same way, one message box each. What was written to the store and the output
// file before a failure or a Stop stays.
// Limits: the list keeps each address once (exact text), across runs of one screen opening.
// Threads: run() on one worker; the observer is called on that worker; stop() from anywhere.
// Standard: the unsubscribe-request convention of the send engine's footer.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/paths.h"
#include "subscriptions/pop3_client.h"

namespace qm {

enum class RetrievalMode { Unsubscribe, Subscribe };

struct RetrievalRequest {
    std::string server;
    int port = Pop3Client::kDefaultPort;
    Pop3SecurityOptions security;
    std::string user;
    std::string password;
    std::string outputFile;
    RetrievalMode mode = RetrievalMode::Unsubscribe;
    std::vector<std::string> groups;  // subscribe mode: where new addresses go
    Pop3Timeouts timeouts = Pop3Timeouts::defaults();
};

enum class RetrievalInputStatus { Ok, UserEmpty, PasswordEmpty, ServerEmpty, OutputEmpty };
struct RetrievalInputCheck {
    RetrievalInputStatus status = RetrievalInputStatus::Ok;
    std::string message;
    bool ok() const { return status == RetrievalInputStatus::Ok; }
};
// The screen's checks, in its order, on trimmed inputs.
RetrievalInputCheck checkRetrievalInput(std::string_view user, std::string_view password,
                                        std::string_view server, std::string_view outputFile);

class RetrievalObserver {
  public:
    virtual ~RetrievalObserver() = default;
    virtual void status(const std::string& text) = 0;
    // A new address joined the list.
    virtual void listed(const std::string& address) = 0;
    // A text to show in a message box (a group file that could not be written in subscribe mode);
    // the run goes on.
    virtual void notice(const std::string& text) = 0;
};

enum class RetrievalOutcome { Done, NoMessages, Stopped, Failed };

struct RetrievalResult {
    RetrievalOutcome outcome = RetrievalOutcome::Done;
    std::string message;  // Failed: the text to show; Done: the success text
    int messages = 0;     // messages read
    int recorded = 0;     // addresses newly appended to a store file
};

inline constexpr std::string_view kMsgRetrieved =
    "Email addresses has been successfully retrieved.";
inline constexpr std::string_view kMsgNoNewEmails = "No new emails.";
inline constexpr std::string_view kMsgUnableToSave = "Unable to save file.";

class RetrievalRun {
  public:
    // `list` is the screen's list: kept across runs, extended by this one.
    RetrievalRun(Paths paths, RetrievalRequest request, std::vector<std::string>& list);
    RetrievalResult run(RetrievalObserver& observer);
    void stop();
    bool stopped() const { return !running_.load(); }

  private:
    // False with `error` when the address could not be recorded.
    bool handle(const RetrievedMessage& message, RetrievalObserver& observer,
                RetrievalResult& result, std::string& error);

    Paths paths_;
    RetrievalRequest request_;
    std::vector<std::string>& list_;
    std::atomic<bool> running_{true};
    std::mutex clientLock_;
    Pop3Client* client_ = nullptr;  // the live client, for stop()
};

}  // namespace qm
