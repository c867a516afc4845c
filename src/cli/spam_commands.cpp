// spam-check: the campaign message built as send builds it, run through the spam analyser, its
// verdict and rule rows printed.
//
// Exit status: 0 not spam, 1 flagged as spam, 3 the check could not run (why on stderr), 2 usage.
// Ctrl+C stops the analyser with its process group (it runs in a group of its own, so the
// terminal's interrupt would not reach it).
#include <atomic>
#include <csignal>
#include <iomanip>
#include <iostream>

#include "cli/campaign_options.h"
#include "cli/commands.h"
#include "spamcheck/spam_check.h"

namespace qm::cli {

namespace {

constexpr int kExitCheckFailed = 3;

std::atomic<bool> spamInterrupted{false};

extern "C" void onSpamInterrupt(int) {
    spamInterrupted.store(true);
}

struct SpamOptions {
    MessageOptions message;
    int timeLimit = 120;
};

int runSpam(const SpamOptions& o) {
    auto paths = readyPaths();
    if (!paths) return kExitCheckFailed;
    CampaignMessage m;
    std::string error;
    if (!fillMessage(o.message, m, error)) {
        std::cerr << error << "\n";
        return kExitCheckFailed;
    }
    MessageCheckHooks hooks;
    hooks.confirm = confirmOnStderr;
    CheckResult check = checkMessage(m, true, hooks);
    if (!check.ok) {
        std::cerr << check.message << "\n";
        return kExitCheckFailed;
    }
    SpamCheckSetup setup;
    setup.limit = std::chrono::seconds(o.timeLimit);
    struct sigaction action {
    }, previous{};
    action.sa_handler = onSpamInterrupt;
    ::sigaction(SIGINT, &action, &previous);
    SpamCheckResult r = runSpamCheck(m, *paths, setup, &spamInterrupted);
    ::sigaction(SIGINT, &previous, nullptr);
    if (r.status == SpamCheckResult::Cancelled) {
        std::cerr << "Spam check stopped.\n";
        return kExitCheckFailed;
    }
    if (r.status != SpamCheckResult::Done) {
        std::cerr << r.message << "\n";
        return kExitCheckFailed;
    }
    if (!r.report.spam) {
        std::cout << kMsgNotSpam << "\n";
        return kExitOk;
    }
    std::cout << r.report.scoreLine << "\n";
    for (const SpamRow& row : r.report.rows) {
        std::cout << std::left << std::setw(6) << row.score << " " << std::setw(24) << row.rule
                  << " " << row.description << "\n";
    }
    return kExitFailure;
}

}  // namespace

void addSpamCommands(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<SpamOptions>();
    auto* spam = app.add_subcommand(
        "spam-check",
        "Run the campaign message through SpamAssassin: exit 0 not spam, 1 spam, 3 no answer");
    addMessageOptions(spam, o->message);
    addShapeOptions(spam, o->message.shape, o->message.unsubscribeOption);
    spam->add_option("--time-limit", o->timeLimit, "Seconds the analyser may take")
        ->check(CLI::Range(1, 3600));
    spam->callback([&exitCode, o] {
        if (!bodyChosen(o->message)) {
            std::cerr << "Give exactly one of --html and --text.\n";
            exitCode = kExitUsage;
            return;
        }
        exitCode = runSpam(*o);
    });
}

}  // namespace qm::cli
