#include "scheduler/schedule_store.h"

#include "common/file_util.h"
#include "config/paths.h"
#include "groups/group_files.h"
#include "scheduler/due_runner.h"
#include "scheduler/outbox.h"

namespace qm {

namespace {

bool sameEntry(const ScheduleEntry& a, const ScheduleEntry& b) {
    return a.subject == b.subject && a.savedAt == b.savedAt && a.dueAt == b.dueAt &&
           a.outboxPath == b.outboxPath;
}

}  // namespace

ScheduleStoreResult storeCampaign(const Paths& paths, const RunRequest& request,
                                  std::time_t startAt, Repetition repetition, std::time_t now,
                                  const OutboxStepHook& step) {
    ScheduleStoreResult out;
    ScheduleLock lock(paths, ScheduleLock::Kind::File);
    ScheduleList list;
    list.load(paths.schedulerFile());
    if (list.count() >= kMaxScheduleEntries) {
        out.status = ScheduleStoreStatus::Full;
        return out;
    }

    std::vector<std::vector<Recipient>> members;
    for (const std::string& group : request.groups) {
        members.emplace_back();
        readGroupFile(groupFilePath(paths, group), members.back());
    }
    const CampaignMessage& m = request.message;
    OutboxRun run;
    run.senderName = m.senderName;
    run.senderAddress = m.senderAddress;
    run.recipients = buildOutboxRecipients(request.typed, members);
    run.subject = m.subject;
    run.body = m.body;
    run.html = m.isHtml();
    run.attachments = m.attachments.paths();
    run.embeddedFlags = m.attachments.embedded();

    ScheduleEntry& e = out.entry;
    e.subject = m.subject;
    e.savedAt = now;
    e.dueAt = startAt;
    e.repetition = repetition;
    OutboxStore written = storeOutbox(paths, std::move(run), now, step);
    if (written.status == OutboxStoreStatus::CopyFailed) {
        out.status = ScheduleStoreStatus::CopyFailed;
        out.message = std::move(written.message);
        return out;
    }
    e.outboxPath = written.path;
    list.add(e, true);
    if (!list.save(paths.schedulerFile())) {
        endEntry(e);
        out.status = ScheduleStoreStatus::Unwritable;
    }
    return out;
}

ScheduleDeleteStatus deleteScheduled(const Paths& paths, const ScheduleEntry& which) {
    ScheduleLock lock(paths, ScheduleLock::Kind::File);
    ScheduleList list;
    list.load(paths.schedulerFile());
    for (std::size_t i = 0; i < list.count(); ++i) {
        ScheduleEntry& e = list.at(i);
        if (e.done || !sameEntry(e, which)) continue;
        ScheduleEntry gone = e;
        e.done = true;
        // The line goes first: a file that names a deleted outbox would show a missing message.
        if (!list.save(paths.schedulerFile())) return ScheduleDeleteStatus::Unwritable;
        if (DueRunner::runningOutbox(paths) == gone.outboxPath) {
            // Its run is sending from the copies: the runner removes them when it completes.
            removeFile(gone.outboxPath);
        } else {
            endEntry(gone);
        }
        return ScheduleDeleteStatus::Deleted;
    }
    return ScheduleDeleteStatus::Changed;
}

std::vector<ScheduleEntry> visibleEntries(const ScheduleList& list) {
    std::vector<ScheduleEntry> out;
    for (const ScheduleEntry& e : list.entries())
        if (!e.done) out.push_back(e);
    return out;
}

ScheduleRow scheduleRow(const ScheduleEntry& e) {
    ScheduleRow row;
    row.scheduledDate = formatGridDate(e.dueAt);
    row.messageMissing = e.outboxPath.empty() || !fileExists(e.outboxPath);
    row.subject = row.messageMissing ? std::string(kMessageMissing) + " " + e.subject : e.subject;
    row.savedDate = formatGridDate(e.savedAt);
    row.repetition = repetitionName(e.repetition);
    row.nextDate = formatGridDate(nextDue(e));
    return row;
}

}  // namespace qm
