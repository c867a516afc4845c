// The spam check: the campaign message built as a send would build it, handed to the spam
// analyser, and the analyser's answer read back.
//
// Entry points: spamCheckMessageText() (the bytes of Message.txt), locateAnalyser(),
// ensurePrefsFile(), runSpamCheck() (all steps, after the caller ran checkMessage() with
// forSpamCheck and got an answer to its empty-message question).
//
// Files: each check writes Message.txt, output.txt (the analyser's standard output) and
// analyser_errors.txt (its standard error) in a private folder of its own under the data root
// (SpamCheck.XXXXXX, mode 0700), removed with them when the check ends. user_prefs in the data
// root holds the analyser's preferences, written only when missing: required score 0.0, the
// subject rewritten on spam, no Bayes learning. The analyser is <program
// folder>/spamassassin/spamassassin when that file is there, else "spamassassin" on PATH. It runs
// with "-L" (local rules only: no network queries, the same answer every time) and "--prefs-file=",
// the message file as its last argument.
//
// Failure: the result's status, and for every status but Done and Cancelled a one-line text to
// show. An analyser that cannot be found says how to install it; one that overruns the time limit
// is stopped. A missing or unreadable output.txt reads as empty ("not spam") unless the analyser
// also ended with a failure status, which is then reported with the first line of its errors.
//
// Limits: the time limit of SpamCheckSetup (120 s unless a caller sets another); output.txt is
// read up to 64 MiB.
// Threads: runSpamCheck() blocks its thread for as long as the analyser runs, so screens call it
// off their own thread; `cancel` may be set from any thread. The build takes the process-wide
// build lock as every sending thread does. Checks may run at once, in one process or several:
// each has its own folder.
// Standard: none beyond the analyser's output (spam_report.h).
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "message/campaign_message.h"
#include "message/mime_message.h"
#include "spamcheck/spam_report.h"

namespace qm {

class Paths;

inline constexpr std::string_view kMsgCannotStartChecker = "Can't Initialize Spam Checker";

// Message.txt for a checked message: the header block and the body after the SMTP transparency
// step, built as the send engine builds the message for a typed address (inline pictures marked,
// the unsubscribe link added, variables replaced), addressed to the sender.
std::string spamCheckMessageText(CampaignMessage m, const MimeSources& sources = {});

struct AnalyserLocation {
    std::string program;
    bool bundled = false;  // the copy under the program folder
};
std::optional<AnalyserLocation> locateAnalyser(const Paths& paths);

std::string prefsFilePath(const Paths& paths);
inline constexpr std::string_view kDefaultPrefs =
    "required_score 0.0\nrewrite_header Subject *****SPAM*****\nuse_bayes 0\nbayes_auto_learn 0\n";
// Writes kDefaultPrefs when the file is missing; a file the user changed stays as it is.
bool ensurePrefsFile(const std::string& path, std::string* error);

struct SpamCheckSetup {
    std::chrono::milliseconds limit{120000};
    std::vector<std::string> environment;  // NAME=value pairs for the analyser (tests: HOME)
    MimeSources sources;                   // clock and Message-ID (tests)
};

struct SpamCheckResult {
    enum Status {
        Done,
        NotInstalled,
        CannotStart,
        AnalyserFailed,
        TimedOut,
        Cancelled,
        FileFailed
    };
    Status status = Done;
    std::string message;  // what to show; empty for Done and Cancelled
    SpamReport report;    // Done only
};

SpamCheckResult runSpamCheck(const CampaignMessage& m, const Paths& paths,
                             const SpamCheckSetup& setup = {},
                             const std::atomic<bool>* cancel = nullptr);

}  // namespace qm
