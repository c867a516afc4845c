// Runs every due entry of the schedule, one after the other, for the desktop program's 5-second
// timer and for `quillmark-cli scheduler run-due` (cron, a systemd timer) alike.
//
// Entry points: DueRunner::runDue() (blocks until every due entry has been sent and ended or
// advanced), DueRunner::cancel() (from another thread, at any moment: once cancelled, a runner
// sends nothing more, also in a runDue() that starts after the cancel), firstDue() (a cheap look
// without a lock).
//
// One runner at a time: runDue() holds the schedule's runner lock for the whole of "pick the due
// entry, send it, end or advance it", and returns Busy at once when another runner (another
// process, or the window beside the command line) holds it: that runner will send the entry, so an
// entry is never sent twice. The schedule file itself is changed under its own brief file lock,
// so a user may add or delete entries while a run goes on.
//
// A run that was killed (or cancelled at program exit) is found by the marker file the runner
// writes before it starts sending, beside the run's journal (delivery/run_journal.h): a
// recipient's start is on disk before its offer, its end before its status line. The next
// runDue() resumes that run first: a recipient whose offer started and never ended gets one status
// line "Not Sent (may have been delivered: run interrupted)" and is never offered again, the
// recipients with a result are passed by, the others are sent; then the entry is ended or advanced
// like a finished one (a repeated campaign keeps its later dates). A marker left by a version
// without journals is closed as that version did: "Not Sent (run interrupted)" for each
// recipient without a recorded result.
//
// A repeated entry that missed several dates (the computer was off) is sent once and then moved on
// to its first date after the present moment, rather than sent once per missed date in a row.
//
// Failure: results are status lines (Sent / Failed To Send); a schedule file that cannot be
// written stops the loop (Failed), so an entry that cannot be ended is not sent again and again.
// Threads: runDue() on one thread at a time per DueRunner; its sending thread is the scheduled
// run's. Callbacks come from that thread.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "delivery/recipient_delivery.h"
#include "message/mail_shape.h"
#include "scheduler/schedule.h"
#include "scheduler/scheduler_status.h"

namespace qm {

class Paths;
class SendLogBuffer;
class ScheduledRun;
class RunJournal;

struct DueRunOptions {
    // The present moment; the system clock when unset.
    std::function<std::time_t()> now;
    DeliveryTarget target;  // checked by the caller (checkDeliverySettings)
    std::string unsubscribeAddress;
    UnsubscribeScope unsubscribeScope = UnsubscribeScope::SingleGroup;
    MailShape shape;
    std::chrono::milliseconds pause = std::chrono::seconds(2);
    MimeSources sources;
    // Every status line as it is appended, and every entry as its run starts.
    std::function<void(const StatusRow&)> onResult;
    std::function<void(const ScheduleEntry&)> onEntry;
};

enum class DueRunStatus {
    Done,       // nothing (more) due
    Busy,       // another runner holds the schedule
    Cancelled,  // cancel(): the entry in progress is left for the next start to recover
    Failed,     // the schedule file could not be written
};

struct DueRunSummary {
    DueRunStatus status = DueRunStatus::Done;
    int entriesRun = 0;
    int recovered = 0;  // killed runs found and closed
};

class DueRunner {
  public:
    DueRunner(const Paths& paths, SendLogBuffer& log);
    ~DueRunner();
    DueRunner(const DueRunner&) = delete;
    DueRunner& operator=(const DueRunner&) = delete;

    DueRunSummary runDue(const DueRunOptions& options);
    void cancel();

    // The earliest entry that is due at `now`, read without a lock.
    static std::optional<ScheduleEntry> firstDue(const Paths& paths, std::time_t now);

    // Where a run in progress is recorded (the entry's line, then each address with a result).
    static std::string markerPath(const Paths& paths);
    // The outbox path of the entry the marker names (a run in progress, or killed), else empty.
    // Its files stay while it runs: a deleted entry's copies go when its run completes.
    static std::string runningOutbox(const Paths& paths);
    // The journal of the run in progress (or killed).
    static std::string journalPath(const Paths& paths);

  private:
    enum class Recovery { Done, Cancelled, Failed };
    Recovery recover(const DueRunOptions& options);
    // Sends `entry` to each of its recipients that `settled` does not name; false when cancelled.
    bool sendEntry(const DueRunOptions& options, const ScheduleEntry& entry, RunJournal& journal,
                   const std::set<std::string>& settled);
    // Ends or advances the file's entry matching `ran` (outbox path and dueAt); false when the
    // schedule file cannot be written.
    bool complete(const ScheduleEntry& ran, std::time_t now);
    void record(const DueRunOptions& options, const ScheduleEntry& e, std::string_view status,
                const std::string& address);

    const Paths& paths_;
    SendLogBuffer& log_;
    std::atomic<bool> cancelled_{false};
    std::mutex current_lock_;
    ScheduledRun* current_ = nullptr;
};

}  // namespace qm
