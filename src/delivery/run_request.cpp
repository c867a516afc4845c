#include "delivery/run_request.h"

#include <atomic>
#include <unordered_set>

#include "config/settings.h"
#include "delivery/recipient_queue.h"
#include "delivery/run_journal.h"
#include "delivery/test_campaign.h"
#include "groups/address.h"
#include "groups/group_selection.h"
#include "message/html_tools.h"

namespace qm {

void markInlinePictures(CampaignMessage& m) {
    m.attachments.resetEmbedded();
    if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);
}

RunBuild buildRunRequest(RunFields fields, const SettingsStore& settings,
                         const RunRequestHooks& hooks) {
    RunBuild out;
    RunRequest& r = out.request;
    AddressList typed = parseAddressList(fields.recipientsText);
    if (!typed.message.empty() && hooks.note) hooks.note(typed.message);
    r.typed = std::move(typed.addresses);

    r.message = std::move(fields.message);
    r.delivery = std::move(fields.delivery);
    MessageCheckHooks check;
    check.confirm = hooks.confirm;
    check.checkDelivery = [&r] { return checkDeliverySettings(r.delivery); };
    check.startTimeValid = hooks.startTimeValid;
    out.check = checkMessage(r.message, false, check);
    if (!out.check.ok) return out;

    if (!fields.testCampaign) {
        r.groups = splitGroupSelection(fields.groupsText);
        out.unfinishedGroup = unfinishedGroupName(fields.groupsText);
    }
    if (r.typed.empty() && r.groups.empty()) {
        out.check = {false,
                     std::string(fields.testCampaign ? kMsgNoTestAddress : kMsgNoValidAddress),
                     MessageField::None};
        return out;
    }

    markInlinePictures(r.message);
    r.autoUnsubscribe = settings.readFlag(keys::kAutoUnsubscribe);
    r.mxStartTls = settings.readFlag(keys::kMxStartTls);
    std::string dkimError;
    if (!loadRunSigner(fields.dkim, r.sources.dkim, dkimError))
        out.check = {false, dkimError, MessageField::DeliverySettings};
    return out;
}

std::optional<InterruptedRun> findInterruptedRun(const Paths& paths, bool autoUnsubscribe) {
    for (const std::string& path : listJournals(paths)) {
        if (journalInUse(path)) continue;
        JournalContents j;
        RunRequest r;
        std::vector<std::pair<std::string, std::string>> texts;
        if (!readJournal(path, j) || !decodeRunRequest(j.request, r, texts)) continue;
        InterruptedRun out;
        out.journalPath = path;
        out.subject = r.message.subject;
        out.inDoubt = j.inDoubt.size();
        for (const auto& e : j.ended) {
            if (e.outcome == JournalOutcome::Sent)
                ++out.sent;
            else if (e.outcome == JournalOutcome::Failed)
                ++out.failed;
            else
                ++out.inDoubt;
        }
        std::unordered_set<std::string> settled;
        for (const auto& e : j.ended) settled.insert(journalKey(e.group, e.address));
        for (const auto& e : j.inDoubt) settled.insert(journalKey(e.group, e.address));
        // The recipients the run would hand out, counted the way it hands them out.
        RecipientQueue queue(paths, r.typed, r.groups, autoUnsubscribe, {});
        queue.useGroupTexts(std::move(texts));
        while (auto a = queue.nextTyped()) {
            if (a->empty()) break;
            ++out.total;
            if (!settled.count(journalKey(kGeneralGroup, *a))) ++out.remaining;
        }
        const std::atomic<bool> running{true};
        while (auto m = queue.nextMember(running)) {
            ++out.total;
            if (!settled.count(journalKey(m->group, m->recipient.email))) ++out.remaining;
        }
        return out;
    }
    return std::nullopt;
}

std::string interruptedRunQuestion(const InterruptedRun& run) {
    return "The last run was interrupted: " + std::to_string(run.sent) + " of " +
           std::to_string(run.total) + " recipients were sent. Send to the remaining " +
           std::to_string(run.remaining) + "?";
}

std::string interruptedRunDetails(const InterruptedRun& run) {
    return "Subject: " + run.subject + "\nSent: " + std::to_string(run.sent) +
           "\nFailed: " + std::to_string(run.failed) +
           "\nMay have been delivered: " + std::to_string(run.inDoubt) +
           "\nNot sent yet: " + std::to_string(run.remaining) + "\nJournal: " + run.journalPath;
}

bool buildResumeRequest(const std::string& journalPath, const SettingsStore& settings,
                        const DkimSettings& dkim, RunRequest& out, std::string& error) {
    auto contents = std::make_shared<JournalContents>();
    if (!readJournal(journalPath, *contents, &error)) {
        error = "Cannot resume " + journalPath + ": " + error + ".";
        return false;
    }
    if (journalInUse(journalPath)) {
        error = "Cannot resume " + journalPath + ": the run is still in progress.";
        return false;
    }
    RunRequest r;
    if (!decodeRunRequest(contents->request, r, r.groupTexts)) {
        error = "Cannot resume " + journalPath + ": its request cannot be read.";
        return false;
    }
    if (r.delivery.authenticate) {
        const DeliverySettings stored = loadDeliverySettings(settings);
        if (stored.server == r.delivery.server && stored.userName == r.delivery.userName)
            r.delivery.password = stored.password;
    }
    if (!loadRunSigner(dkim, r.sources.dkim, error)) return false;
    r.resumePath = journalPath;
    r.resumed = std::move(contents);
    out = std::move(r);
    return true;
}

}  // namespace qm
