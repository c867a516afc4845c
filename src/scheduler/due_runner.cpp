#include "scheduler/due_runner.h"

#include <set>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/run_journal.h"
#include "delivery/send_log_buffer.h"
#include "scheduler/outbox.h"
#include "scheduler/scheduled_run.h"

namespace qm {

namespace {

std::time_t systemNow() {
    return std::time(nullptr);
}

}  // namespace

DueRunner::DueRunner(const Paths& paths, SendLogBuffer& log) : paths_(paths), log_(log) {}

DueRunner::~DueRunner() = default;

std::string DueRunner::markerPath(const Paths& paths) {
    return paths.dataRoot() + "/Scheduler_Running.txt";
}

std::string DueRunner::runningOutbox(const Paths& paths) {
    std::string marker;
    if (!readFile(markerPath(paths), marker)) return {};
    ScheduleList one;
    one.parse(marker.substr(0, marker.find('\n')));
    return one.count() == 1 ? one.at(0).outboxPath : std::string();
}

std::optional<ScheduleEntry> DueRunner::firstDue(const Paths& paths, std::time_t now) {
    ScheduleList list;
    list.load(paths.schedulerFile());
    const ScheduleEntry* first = nullptr;
    for (const ScheduleEntry& e : list.entries())
        if (!first || e.dueAt < first->dueAt) first = &e;
    if (!first || now < first->dueAt) return std::nullopt;
    return *first;
}

void DueRunner::cancel() {
    cancelled_ = true;
    std::lock_guard guard(current_lock_);
    if (current_) current_->cancel();
}

void DueRunner::record(const DueRunOptions& o, const ScheduleEntry& e, std::string_view status,
                       const std::string& address) {
    std::string line = formatStatusLine(kScheduledThreadLabel, status, address, e.subject, e.dueAt);
    appendStatusLine(paths_.schedulerStatusFile(), line);
    if (o.onResult) {
        StatusRow row{std::string(kScheduledThreadLabel), std::string(status), address, e.subject,
                      formatScheduleDate(e.dueAt)};
        o.onResult(row);
    }
}

bool DueRunner::complete(const ScheduleEntry& ran, std::time_t now) {
    ScheduleLock lock(paths_, ScheduleLock::Kind::File);
    ScheduleList list;
    list.load(paths_.schedulerFile());
    std::optional<ScheduleEntry> ended;
    for (std::size_t i = 0; i < list.count(); ++i) {
        ScheduleEntry& e = list.at(i);
        // dueAt too: a completion recovered after its own save must not move the entry twice.
        if (e.outboxPath != ran.outboxPath || e.dueAt != ran.dueAt) continue;
        if (e.repetition != Repetition::None && !e.done) {
            // Missed dates are not made up one after the other.
            for (int n = 0; n < 100000 && e.dueAt <= now; ++n) {
                std::time_t before = e.dueAt;
                advance(e);
                if (e.dueAt <= before) break;
            }
            list.sortByDue();
        } else {
            ended = e;
            e.done = true;
        }
        break;
    }
    if (!list.save(paths_.schedulerFile())) return false;
    // The outbox file goes after the line, so no saved line ever names a deleted file.
    if (ended) endEntry(*ended);
    // Deleted while it ran: deleteScheduled() left its files to the run, which is over now.
    if (list.find(ran.outboxPath) < 0) removeOutboxFiles(ran.outboxPath);
    return true;
}

std::string DueRunner::journalPath(const Paths& paths) {
    return paths.dataRoot() + "/Scheduler_Running.qmj";
}

bool DueRunner::sendEntry(const DueRunOptions& o, const ScheduleEntry& entry, RunJournal& journal,
                          const std::set<std::string>& settled) {
    if (o.onEntry) o.onEntry(entry);
    ScheduledRun run(log_);
    ScheduledRunRequest r;
    r.outboxPath = entry.outboxPath;
    r.done = entry.done;
    r.target = o.target;
    r.unsubscribeAddress = o.unsubscribeAddress;
    r.unsubscribeScope = o.unsubscribeScope;
    r.shape = o.shape;
    r.pause = o.pause;
    r.sources = o.sources;
    r.begin = [&](const std::string& address) {
        if (settled.count(address)) return false;
        journal.begin(1, {}, address);
        return true;
    };
    r.record = [&](std::string_view, std::string_view status, const std::string& address) {
        // The journal before the status line: a kill between the two never shows a recipient
        // that was sent as not sent.
        journal.end(1, {}, address,
                    status == kStatusSent ? JournalOutcome::Sent : JournalOutcome::Failed, 0,
                    status);
        record(o, entry, status, address);
    };
    {
        std::lock_guard guard(current_lock_);
        current_ = &run;
        run.start(std::move(r));
        if (cancelled_.load()) run.cancel();
    }
    run.wait();
    {
        std::lock_guard guard(current_lock_);
        current_ = nullptr;
    }
    log_.write(paths_.sendLog());
    if (cancelled_.load()) {
        journal.sync();
        return false;
    }
    return true;
}

DueRunner::Recovery DueRunner::recover(const DueRunOptions& o) {
    std::string marker;
    if (!readFile(markerPath(paths_), marker)) return Recovery::Done;
    ScheduleList one;
    one.parse(marker.substr(0, marker.find('\n')));
    JournalContents j;
    if (one.count() == 1 && readJournal(journalPath(paths_), j)) {
        // The run goes on: every recipient the journal settles is passed by, an offer that started
        // and never ended is reported once and never offered again, the rest are sent.
        const ScheduleEntry& e = one.at(0);
        auto journal = RunJournal::reopen(journalPath(paths_), j.validBytes);
        if (!journal) return Recovery::Failed;
        std::set<std::string> settled;
        for (const JournalEnd& end : j.ended) settled.insert(end.address);
        // The status line follows the end record: a kill between the two leaves the last result
        // unshown, and it is shown now, from the journal.
        if (!j.ended.empty()) {
            const JournalEnd& last = j.ended.back();
            const std::string date = formatScheduleDate(e.dueAt);
            bool shown = false;
            for (const StatusRow& row : readStatusFile(paths_.schedulerStatusFile()))
                shown = shown || (row.address == last.address && row.subject == e.subject &&
                                  row.scheduledDate == date);
            if (!shown) record(o, e, last.text, last.address);
        }
        for (const JournalEnd& doubt : j.inDoubt) {
            if (!settled.insert(doubt.address).second) continue;
            journal->end(1, {}, doubt.address, JournalOutcome::InDoubt, 0,
                         kStatusMayHaveBeenDelivered);
            record(o, e, kStatusMayHaveBeenDelivered, doubt.address);
        }
        journal->sync();
        if (!sendEntry(o, e, *journal, settled)) return Recovery::Cancelled;
        if (!complete(e, o.now ? o.now() : systemNow())) return Recovery::Failed;
        removeFile(markerPath(paths_));
        journal->remove();
        return Recovery::Done;
    }
    // A marker without a journal was left by a version that kept none: its address lines are the
    // recipients with a result, and the rest cannot be told apart from the one in flight.
    if (one.count() == 1) {
        const ScheduleEntry& e = one.at(0);
        std::set<std::string> recorded;
        std::size_t pos = marker.find('\n');
        while (pos != std::string::npos && pos + 1 < marker.size()) {
            std::size_t end = marker.find("\r\n", pos + 1);
            if (end == std::string::npos) break;
            recorded.insert(marker.substr(pos + 1, end - pos - 1));
            pos = end + 1;
        }
        OutboxRun stored;
        if (!e.done && readOutbox(e.outboxPath, stored)) {
            for (const std::string& address : outboxRecipientList(stored.recipients))
                if (!recorded.count(address)) record(o, e, kScheduledInterrupted, address);
        }
        if (!complete(e, o.now ? o.now() : systemNow())) return Recovery::Failed;
    }
    removeFile(markerPath(paths_));
    removeFile(journalPath(paths_));
    return Recovery::Done;
}

DueRunSummary DueRunner::runDue(const DueRunOptions& o) {
    DueRunSummary summary;
    // A cancel that came before this call holds: a stop asked for while the caller was still
    // starting up must not be forgotten here.
    if (cancelled_.load()) {
        summary.status = DueRunStatus::Cancelled;
        return summary;
    }
    ScheduleLock runner(paths_, ScheduleLock::Kind::Runner, true);
    if (!runner.held()) {
        summary.status = DueRunStatus::Busy;
        return summary;
    }
    const std::string marker = markerPath(paths_);
    if (fileExists(marker)) {
        switch (recover(o)) {
            case Recovery::Failed:
                summary.status = DueRunStatus::Failed;
                return summary;
            case Recovery::Cancelled:
                summary.status = DueRunStatus::Cancelled;
                return summary;
            case Recovery::Done:
                break;
        }
        ++summary.recovered;
    } else {
        // A journal without a marker: killed before its run began, or after the run was closed.
        removeFile(journalPath(paths_));
    }
    std::set<std::pair<std::string, std::time_t>> ran;
    for (;;) {
        if (cancelled_.load()) {
            summary.status = DueRunStatus::Cancelled;
            break;
        }
        const std::time_t now = o.now ? o.now() : systemNow();
        std::optional<ScheduleEntry> due = firstDue(paths_, now);
        // An entry whose completion did not move it (the file changed under us) runs once only.
        if (!due || !ran.insert({due->outboxPath, due->dueAt}).second) break;
        const ScheduleEntry entry = *due;
        // The journal before the marker: a marker always has its journal beside it.
        auto journal = RunJournal::create(journalPath(paths_), formatScheduleLine(entry));
        if (!journal || !writeFileAtomic(marker, formatScheduleLine(entry) + "\r\n")) {
            if (journal) journal->remove();
            summary.status = DueRunStatus::Failed;
            break;
        }
        if (!sendEntry(o, entry, *journal, {})) {
            // Left for the next start: the journal says which recipients have no result.
            summary.status = DueRunStatus::Cancelled;
            break;
        }
        if (!complete(entry, o.now ? o.now() : systemNow())) {
            summary.status = DueRunStatus::Failed;
            break;
        }
        // The marker first: a journal left alone is cleared at the next start.
        removeFile(marker);
        journal->remove();
        ++summary.entriesRun;
    }
    return summary;
}

}  // namespace qm
