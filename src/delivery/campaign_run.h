// The send engine: one campaign message to the typed addresses and the chosen groups, on 1 to 15
// sending threads, each recipient built, personalised and delivered over its own SMTP connection
// (or, with "Messages per connection" above 1, over the thread's kept session: smtp_session.h).
// Order: the typed addresses (group "<General>") first; when every typed result is recorded the
// group phase starts and the groups are sent one after another.
//
// Entry points: checkDeliverySettings() before a run; CampaignRun::start() begins a run on the
// engine's own threads and returns at once; stop() is the Stop command; wait() blocks until the
// run's threads have ended. Everything the engine has to say goes through RunObserver, called from
// the engine's threads (the desktop forwards the calls to its window thread; the command line
// prints them). The engine never shows anything itself.
//
// Failure: per recipient, up to 4 connection attempts and up to 4 offers of the message (see
// recipient_delivery.h for when another offer is made), then the result "Sent" or the error text.
// In relay mode a recipient whose 4 connection attempts fail ends the whole run (relayFailure,
// with "Authentication Failed" when the client's failure kind says the account was refused, else
// "Error connecting to specified mail server."), because every later recipient would fail the
// same way; in MX mode it is that recipient's failure. A chosen group whose file cannot be read is
// reported and skipped; the run goes on with the next one. Every recipient handed out ends as
// exactly one of sent, failed (with its text) or skipped (disabled, unsubscribed); the summary
// carries all three counts. Recipients not reached because of Stop or a relay failure are in none
// of them.
//
// Pace: with delivery.rate set, every message waits for a token of one bucket shared by all
// threads (send_pace.h). A refusal that names a rate then halves the pace, holds every thread for
// rateBackoff and offers the same recipient again, up to kRateRetries times, instead of spending
// its four offers at once; the recipient is still recorded once.
//
// Limits: 1 to 15 threads, 0 to 5 seconds of wait after each recipient (both clamped).
//
// Threads: the engine owns its threads and joins them; the destructor stops a run in progress and
// waits. Stop interrupts connections in flight, so no thread outlives its current network wait.
// Locks: the typed-list and recipient locks (RecipientQueue), the result lock (recording), the
// process-wide build lock (MIME build), the send log's own lock.
//
// Crashes: every run keeps a journal (run_journal.h). A recipient's start record is on disk before
// its MAIL FROM goes out, and its end record is written before its result is shown or reported. A
// run that ends by itself or through Stop removes its journal; a killed run, or one ended by a
// relay failure, leaves it for a resume (RunRequest::resumed), which reports every recipient the
// journal settled, "Not Sent (may have been delivered: run interrupted)" for an offer that started
// and never ended, and offers only the others.
//
// Standard: none of its own; SMTP through SmtpClient.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "config/paths.h"
#include "delivery/delivery_report.h"
#include "delivery/delivery_settings.h"
#include "delivery/recipient_delivery.h"
#include "delivery/run_journal.h"
#include "delivery/send_pace.h"
#include "delivery/smtp_client.h"
#include "groups/recipient.h"
#include "message/campaign_message.h"
#include "message/mime_message.h"

namespace qm {

class AttachmentCache;
class RecipientQueue;
class SendLogBuffer;
class SmtpSession;

inline constexpr std::string_view kMsgNoValidAddress = "No valid email address specified.";
inline constexpr std::string_view kMsgEnterMailServer = "Please enter a mail server to send mails.";
inline constexpr std::string_view kMsgFinished =
    "Quillmark has finished sending emails and will now stop all the threads.";
inline constexpr std::string_view kAskStopSending = "Are you sure you want to stop the process?";
inline constexpr std::string_view kMsgRelayUnreachable =
    "Error connecting to specified mail server.";
// The same words as the client's failure text: the run ends with what the account check said.
inline constexpr std::string_view kMsgAuthenticationFailed = SmtpClient::kAuthFailed;
inline constexpr std::string_view kStatusSent = "Sent";
inline constexpr std::string_view kStatusFailed = "Failed to Send";

// The percentage question asked when more than 80 percent of a run failed.
std::string supportQuestion(int failedPercent);

// The line that tells which chosen groups were left out because their files could not be read;
// empty when none were.
std::string unavailableGroupsText(const std::vector<std::string>& groups);

// Relay mode needs a server: the server text is trimmed in place, and an empty one gives
// kMsgEnterMailServer with the focus on the delivery settings. MX mode clears the relay values.
// An OAuth 2 login runs its token command here (delivery/token_command.h), once for the run, and
// puts the token in the password; a command that gives no token fails the check with its text.
CheckResult checkDeliverySettings(DeliverySettings& settings);

struct SendResult {
    int threadIndex = 0;  // 0-based; the label is "Thread# " + (index + 1)
    std::string thread;
    bool sent = false;
    std::string text;  // "Sent" or the full error text
    std::string group;
    std::string address;
    std::string serverReply{};  // a failure's refusal line from the server, when a reply caused it
};

struct RunSummary {
    std::size_t sent = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::vector<std::string> unavailableGroups;
    int failedPercent = 0;    // failed x 100 / (failed + sent), truncated
    bool askSupport = false;  // more than 80 percent failed
};

class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The status grid is reset; progress runs over the typed addresses first.
    virtual void runStarted(std::size_t /*typedTotal*/) {}
    virtual void groupStarted(const std::string& /*group*/, std::size_t /*members*/) {}
    virtual void groupUnavailable(const std::string& /*group*/, const std::string& /*text*/) {}
    virtual void skipped(const Recipient& /*member*/, const std::string& /*group*/) {}
    virtual void result(const SendResult& /*result*/) {}
    // The run has ended early; the send log is not written. Called on a sending thread, which
    // waits for the call to return.
    virtual void relayFailure(const std::string& /*message*/) {}
    // The run ended by itself: the caller shows kMsgFinished, then the question when askSupport.
    virtual void finished(const RunSummary& /*summary*/) {}
    // The run ended through stop(): no summary message, no question.
    virtual void stopped(const RunSummary& /*summary*/) {}
    // A run with a pace: the pace at the start, and each time a relay's rate refusal slowed it
    // down (messages per minute).
    virtual void paceChanged(double /*perMinute*/) {}
};

struct RunRequest {
    // Checked by checkMessage(): `body` derived, the embedded flags set.
    CampaignMessage message;
    std::vector<std::string> typed;  // in sending order
    std::vector<std::string> groups;
    DeliverySettings delivery;  // checked by checkDeliverySettings()
    bool autoUnsubscribe = false;
    bool mxStartTls = true;
    SmtpTimeouts timeouts = SmtpTimeouts::defaults();
    std::string caFile;  // trusted CAs instead of the system store (tests)
    int mxPort = 25;     // where exchangers listen (tests)
    // Message-ID and clock for tests; unset means random ids and the system clock.
    MimeSources sources;
    // With a pace (delivery.rate): how long every thread waits after a rate refusal.
    std::chrono::milliseconds rateBackoff = kDefaultRateBackoff;
    // The run journal (run_journal.h); off only where its cost is measured.
    bool journal = true;
    // A resumed run: the journal it continues and what that journal held (the request itself
    // comes from decodeRunRequest(), the group texts with it).
    std::string resumePath;
    std::shared_ptr<const JournalContents> resumed;
    std::vector<std::pair<std::string, std::string>> groupTexts;
};

class CampaignRun {
  public:
    CampaignRun(Paths paths, SendLogBuffer& log, RunObserver& observer);
    ~CampaignRun();
    CampaignRun(const CampaignRun&) = delete;
    CampaignRun& operator=(const CampaignRun&) = delete;

    // Deletes the previous run's reports and starts the threads. False when a run is in progress,
    // there is nobody to send to (no typed address and no group), or a resumed run's journal is
    // held by another process or changed since it was read.
    bool start(RunRequest request);
    // The Stop command: nothing when no run is in progress; otherwise the run ends without further
    // results, its connections are interrupted, the send log is written and stopped() follows.
    void stop();
    // Blocks until the run's threads have ended (at once when none runs).
    void wait();

    bool sending() const { return sending_.load(); }
    // Address and reason of every failure of the last run, in recording order.
    std::vector<std::pair<std::string, std::string>> failures() const;

  private:
    struct Slot;
    void coordinate();
    void typedWorker(int index);
    void groupWorker(int index);
    // False when the thread must end (the run was stopped or aborted).
    bool deliver(SmtpSession& session, int index, const std::string& address,
                 const std::string& group, const Recipient* member);
    // The thread's session, tracked so stop() can interrupt it.
    SmtpSession makeSession(int index);
    void record(int index, bool sent, const std::string& text, const std::string& group,
                const std::string& address, const std::string& serverReply = {});
    void abortRun(const std::string& message);
    // Opens or continues the journal (false: a resumed run's journal cannot be taken);
    // replaySettled() shows and reports what a resumed journal already settled.
    bool openJournal(std::vector<std::pair<std::string, std::string>>& groupTexts);
    void replaySettled();
    bool pause(int seconds);
    // Sleeps until `moment` unless the run ends first; false when it ended.
    bool waitUntil(TokenBucket::Clock::time_point moment);
    void runWorkers(void (CampaignRun::*worker)(int));
    RunSummary summary() const;

    const Paths paths_;
    SendLogBuffer& log_;
    RunObserver& observer_;

    RunRequest request_;
    DeliveryTarget target_;
    // By preference, every domain's exchangers are looked up once for the whole run.
    std::unique_ptr<MxRouteCache> mxRoutes_;
    std::unique_ptr<RecipientQueue> queue_;
    std::unique_ptr<AttachmentCache> cache_;
    std::unique_ptr<SendPace> pace_;
    // Written before anything is shown: the one record of which offers started and ended.
    std::unique_ptr<RunJournal> journal_;
    // A resumed run's recipients that the journal already settles (never offered again).
    std::unordered_set<std::string> settled_;
    std::string bodyForTyped_;  // the body with the typed-address unsubscribe footer

    std::atomic<bool> sending_{false};
    std::atomic<bool> statusActive_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> aborted_{false};

    mutable std::mutex resultLock_;
    std::size_t sent_ = 0;
    std::size_t failed_ = 0;
    std::vector<std::pair<std::string, std::string>> failures_;
    ReportAppender reports_;  // under resultLock_

    std::mutex pauseLock_;
    std::condition_variable pauseWake_;

    // The client each thread is talking through, so stop() can interrupt it.
    std::mutex clientsLock_;
    std::vector<SmtpClient*> clients_;

    std::mutex controlLock_;
    std::thread coordinator_;
};

}  // namespace qm
