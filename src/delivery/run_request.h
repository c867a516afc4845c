// The engine's run request made from what the user gave for a run: the one place where the
// recipients text, the groups text, the message and the delivery settings become a RunRequest, for
// the main window and the command line alike.
//
// Entry points: buildRunRequest(); markInlinePictures() (also used by the command line's message
// build, which needs a checked message but no run).
//
// Order, as Send does it; the first failure ends the build:
//   1. the recipients text is parsed into the typed list (parseAddressList: ";" and "," separate,
//      invalid entries dropped, duplicates dropped ignoring letter case, at most 100,000); a text
//      it has to say (too many addresses) goes to the `note` hook at once and does not stop;
//   2. checkMessage(), with the delivery settings check as its delivery step;
//   3. the groups text is split by splitGroupSelection() (groups/group_selection.h): names each
//      followed by ";", text after the last ";" ignored, blanks and repeats dropped; a test
//      campaign takes no groups;
//   4. nobody to send to: kMsgNoValidAddress (kMsgNoTestAddress for a test campaign);
//   5. the embedded flags are reset and the pictures the HTML body refers to become inline parts;
//      Auto Unsubscribe and STARTTLS towards exchangers are read from the settings store;
//   6. with DKIM signing on, the key is loaded once for the whole run; a key that cannot be used
//      stops the run before it starts (delivery/dkim_settings.h).
//
// Failure contract: `check` says what failed, with its fixed text (empty when the user declined
// the empty-message question) and the field to focus. Whatever the outcome, request.message holds
// the message as the check left it (the sender and subject trimmed), for the screen to show.
// Threads: the caller's; the hooks are called on it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "delivery/campaign_run.h"
#include "delivery/dkim_settings.h"

namespace qm {

class Paths;
class SettingsStore;

struct RunFields {
    CampaignMessage message;     // as the user left it; the check derives its body
    std::string recipientsText;  // the recipients box, or a test campaign's addresses
    std::string groupsText;      // the groups field
    DeliverySettings delivery;   // as the settings page shows them; checked here
    bool testCampaign = false;   // to the typed addresses only
    DkimSettings dkim;           // as the Sender Authentication group shows them; empty: unsigned
};

struct RunRequestHooks {
    // The empty-message question; "Yes" when unset.
    std::function<bool(std::string_view question)> confirm;
    // A text to show that does not stop the run; dropped when unset.
    std::function<void(std::string_view text)> note;
    // A run stored for later: false when its start moment is not after the present one. Unset for
    // a run that starts at once.
    std::function<bool()> startTimeValid;
};

struct RunBuild {
    RunRequest request;  // ready for CampaignRun::start() when check.ok
    CheckResult check;
    // Text after the last ";" of the groups text: not a chosen group. The window's field never has
    // any; the command line says what it left out.
    std::string unfinishedGroup;
};

RunBuild buildRunRequest(RunFields fields, const SettingsStore& settings,
                         const RunRequestHooks& hooks = {});

// A run continued from its journal (run_journal.h): the request as the journal kept it, with what
// a journal does not hold taken again: the relay password from `settings` when the journal's
// relay asks for one, and the signing key from `dkim`. False with the text to show when the file
// is not a journal, its request cannot be read, or the key cannot be used.
bool buildResumeRequest(const std::string& journalPath, const SettingsStore& settings,
                        const DkimSettings& dkim, RunRequest& out, std::string& error);

// An interrupted run as the start of the desktop program finds it: counts over the whole run.
struct InterruptedRun {
    std::string journalPath;
    std::string subject;
    std::size_t total = 0;  // every recipient of the run (skipped members not counted)
    std::size_t sent = 0;
    std::size_t failed = 0;
    std::size_t inDoubt = 0;    // started and never ended: not offered again
    std::size_t remaining = 0;  // never offered: a resume sends to these
};
// The newest interrupted run of the data folder that no process is sending, if any.
std::optional<InterruptedRun> findInterruptedRun(const Paths& paths, bool autoUnsubscribe);
// "The last run was interrupted: N of M recipients were sent. Send to the remaining N'?"
std::string interruptedRunQuestion(const InterruptedRun& run);
// What "Show" tells about it, one count a line.
std::string interruptedRunDetails(const InterruptedRun& run);

// Resets the embedded flags, then flags and rewrites the attachments that the HTML body refers to.
void markInlinePictures(CampaignMessage& message);

}  // namespace qm
