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
// Failure: storeCampaign() says Full (kMsgScheduleFull) before it writes anything, so a refused
// campaign leaves no outbox file behind; an outbox file that cannot be written leaves the entry
// pointing at "error", which the grid shows as a missing message. deleteScheduled() says Changed
// when the entry is no longer in the file as the caller saw it.
// Threads: the caller's; the file lock may wait for a runner's brief read-modify-write.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/campaign_run.h"
#include "scheduler/schedule.h"

namespace qm {

class Paths;

enum class ScheduleStoreStatus { Saved, Full, Unwritable };

struct ScheduleStoreResult {
    ScheduleStoreStatus status = ScheduleStoreStatus::Saved;
    ScheduleEntry entry;
};

// `request` as buildRunRequest() made it (message checked, inline pictures marked). The recipient
// list is the typed addresses, then the Enabled members of each chosen group not yet listed.
ScheduleStoreResult storeCampaign(const Paths& paths, const RunRequest& request,
                                  std::time_t startAt, Repetition repetition, std::time_t now);

enum class ScheduleDeleteStatus {
    Deleted,
    Changed,     // no entry matches any more: a runner sent or moved it on, or it was deleted
    Unwritable,  // the schedule file could not be written; nothing changed
};
inline constexpr std::string_view kMsgScheduleChanged =
    "This scheduled mail has changed meanwhile (it was sent or moved on to its next date); the "
    "list is shown again.";

// Ends the file's entry that matches `which` (subject, both dates and outbox path): its line
// goes, then its outbox file.
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
