// The changes a user makes to the schedule, for the window and the command line alike: storing a
// campaign for a later start (its outbox file and its entry), deleting an entry, and the rows the
// "Scheduled Mails" grid and `schedule list` show.
//
// Entry points: storeCampaign(), deleteScheduled(), visibleEntries(), scheduleRow().
//
// Every change reads the schedule file afresh under the schedule's file lock, changes it and
// writes it back atomically, so the window, the command line and a runner completing an entry
// never lose each other's changes.
//
// Files: the stored run sends its own copies of the attachments and inline pictures (outbox.h,
// "Files"), so a later import or edit of the originals does not change it; deleting or ending the
// entry removes them with the outbox file.
//
// Failure: storeCampaign() says Full (kMsgScheduleFull) before it writes anything, so a refused
// campaign leaves no outbox file behind; so does CopyFailed (a file that cannot be copied: missing,
// unreadable, disk full), with `message` naming the file. An outbox file that cannot be written
// leaves the entry pointing at "error", which the grid shows as a missing message.
// deleteScheduled() says Changed when the entry is no longer in the file as the caller saw it.
// Threads: the caller's; the file lock may wait for a runner's brief read-modify-write.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/campaign_run.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"

namespace qm {

class Paths;

enum class ScheduleStoreStatus { Saved, Full, Unwritable, CopyFailed };

struct ScheduleStoreResult {
    ScheduleStoreStatus status = ScheduleStoreStatus::Saved;
    ScheduleEntry entry;
    std::string message;  // CopyFailed: the text to show
};

// `request` as buildRunRequest() made it (message checked, inline pictures marked). The recipient
// list is the typed addresses, then the Enabled members of each chosen group not yet listed.
// `step` is for tests (outbox.h).
ScheduleStoreResult storeCampaign(const Paths& paths, const RunRequest& request,
                                  std::time_t startAt, Repetition repetition, std::time_t now,
                                  const OutboxStepHook& step = {});

enum class ScheduleDeleteStatus {
    Deleted,
    Changed,     // no entry matches any more: a runner sent or moved it on, or it was deleted
    Unwritable,  // the schedule file could not be written; nothing changed
};
inline constexpr std::string_view kMsgScheduleChanged =
    "This scheduled mail has changed meanwhile (it was sent or moved on to its next date); the "
    "list is shown again.";

// Ends the file's entry that matches `which` (subject, both dates and outbox path): its line
// goes, then its outbox file and its files; those of an entry whose run is under way (or was
// killed) stay until that run completes, so the run sends every recipient the same message.
ScheduleDeleteStatus deleteScheduled(const Paths& paths, const ScheduleEntry& which);

// The entries that are not done, in list order: the grid's rows.
std::vector<ScheduleEntry> visibleEntries(const ScheduleList& list);

inline constexpr std::string_view kMessageMissing = "(message missing)";

struct ScheduleRow {
    std::string scheduledDate, subject, savedDate, repetition, nextDate;
    bool messageMissing = false;  // the outbox file is gone: the subject says so
};
ScheduleRow scheduleRow(const ScheduleEntry& entry);

}  // namespace qm
