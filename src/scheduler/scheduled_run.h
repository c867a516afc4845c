// The sending loop of a stored run: one thread reads the run's outbox file and sends the message to
// each address of its recipient list, one after another.
//
// Differences from an immediate run: the thread is "Thread#1" and logs to send-log slot 0; every
// body is personalised for the bare address whatever the dynamic-variables choice was; the
// unsubscribe footer names no group; a recipient that cannot be reached after 4 connection
// attempts is "Failed To Send" and the loop goes on (in relay mode too); each recipient is followed
// by a fixed pause, and with a sending pace set ("At most N messages per minute/hour") the messages
// keep to it as an immediate run's do (paced_delivery.h). Results go to `record` (the scheduler's
// status file), never to the status grid or the delivery reports. Attachment files that cannot be
// read at this moment are left out.
//
// Entry points: ScheduledRun::start() returns at once; `complete` is called on the run's thread
// when the list is done (or at once when the outbox file cannot be read or `done` is set); it must
// hand the completion to its own thread rather than start the next run from inside the call. The
// destructor interrupts and joins the thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "delivery/recipient_delivery.h"
#include "delivery/send_pace.h"
#include "message/mail_shape.h"

namespace qm {

class SendLogBuffer;

inline constexpr std::string_view kScheduledThreadLabel = "Thread#1";
inline constexpr std::string_view kScheduledFailed = "Failed To Send";

struct ScheduledRunRequest {
    std::string outboxPath;
    bool done = false;  // the entry has nothing left to send
    DeliveryTarget target;
    // Taken from the window at the moment of sending: the outbox file does not hold it.
    std::string unsubscribeAddress;
    UnsubscribeScope unsubscribeScope = UnsubscribeScope::SingleGroup;
    MailShape shape;  // the stored text-part choice and unsubscribe URL, at the moment of sending
    std::chrono::milliseconds pause = std::chrono::seconds(2);
    // With a pace in target.settings.rate: how long to hold after the relay refused for the rate.
    std::chrono::milliseconds rateBackoff = kDefaultRateBackoff;
    MimeSources sources;  // tests fix the clock and Message-ID
    // One call per recipient: thread label, "Sent" or "Failed To Send", address.
    std::function<void(std::string_view label, std::string_view status, const std::string& address)>
        record;
    std::function<void()> complete;
    // Called before each recipient's offer: false passes the recipient by (a resumed run's
    // recipients that its journal settles). When it returns true the offer's start is on disk.
    std::function<bool(const std::string& address)> begin;
};

class ScheduledRun {
  public:
    explicit ScheduledRun(SendLogBuffer& log) : log_(log) {}
    ~ScheduledRun();
    ScheduledRun(const ScheduledRun&) = delete;
    ScheduledRun& operator=(const ScheduledRun&) = delete;

    // False while an earlier scheduled run is still going.
    bool start(ScheduledRunRequest request);
    bool running() const { return running_.load(); }
    // Ends the run at its next step (program exit); `complete` is still called.
    void cancel();
    void wait();

  private:
    void run();
    // Sleeps until `moment` unless the run is cancelled first; false when it was.
    bool waitUntil(std::chrono::steady_clock::time_point moment);

    SendLogBuffer& log_;
    ScheduledRunRequest request_;
    std::atomic<bool> running_{false};
    std::atomic<bool> active_{true};  // cleared by cancel()
    std::mutex clientLock_;
    SmtpClient* client_ = nullptr;
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;
    std::thread thread_;
};

}  // namespace qm
