// send, test-campaign and report: whole campaigns from a terminal, with the same reports and send
// log as the desktop program.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/campaign_options.h"
#include "cli/commands.h"
#include "cli/dkim_options.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/run_journal.h"
#include "delivery/run_request.h"
#include "delivery/send_log_buffer.h"
#include "delivery/test_campaign.h"
#include "groups/address.h"

namespace qm::cli {

namespace {

std::atomic<bool> interruptRequested{false};

extern "C" void onInterrupt(int) {
    interruptRequested = true;
}

// Prints what the run reports: a progress bar on a terminal, one line per result otherwise.
class ConsoleObserver : public RunObserver {
  public:
    explicit ConsoleObserver(bool terminal) : terminal_(terminal) {}
    // Named beside a relay failure: the fixed text says only that "the" server failed.
    void setRelay(const DeliverySettings& d) {
        if (!d.mxMode) relay_ = "server " + d.server + ", port " + std::to_string(d.port);
    }

    void runStarted(std::size_t typedTotal) override {
        std::lock_guard g(m_);
        known_ = typedTotal;
        start_ = std::chrono::steady_clock::now();
    }
    void groupStarted(const std::string& group, std::size_t members) override {
        std::lock_guard g(m_);
        known_ += members;
        group_ = group;
    }
    void groupUnavailable(const std::string& group, const std::string& text) override {
        std::lock_guard g(m_);
        clearBar();
        std::cerr << "Group " << group << " was not sent: " << text << '\n';
    }
    void skipped(const Recipient&, const std::string&) override {
        std::lock_guard g(m_);
        ++skipped_;
    }
    void result(const SendResult& r) override {
        std::lock_guard g(m_);
        (r.sent ? sent_ : failed_)++;
        if (!terminal_) {
            // The record's text is fixed ("550:SMTP server error"); the server's own line says why.
            std::cout << r.thread << ',' << (r.sent ? kStatusSent : kStatusFailed) << ',' << r.group
                      << ',' << r.address << (r.sent ? "" : "," + r.text)
                      << (r.serverReply.empty() ? "" : " (server said: " + r.serverReply + ")")
                      << '\n';
            return;
        }
        auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ > std::chrono::milliseconds(100) ||
            sent_ + failed_ + skipped_ >= known_)
            drawBar(now);
    }
    void relayFailure(const std::string& message) override {
        std::lock_guard g(m_);
        clearBar();
        std::cerr << message << (relay_.empty() ? "" : " (" + relay_ + ")") << '\n';
        outcome_ = Outcome::Aborted;
    }
    void paceChanged(double perMinute) override {
        std::lock_guard g(m_);
        const bool slower = pace_ > 0;
        pace_ = perMinute;
        if (terminal_) return;  // the bar shows it
        std::cerr << (slower ? "The server asked to slow down: " : "") << paceStatusText(pace_, 0)
                  << '\n';
    }
    void finished(const RunSummary& s) override { report(s, Outcome::Finished); }
    void stopped(const RunSummary& s) override { report(s, Outcome::Stopped); }

    int exitCode() const {
        std::lock_guard g(m_);
        return outcome_ == Outcome::Finished && summary_.failed == 0 &&
                       summary_.unavailableGroups.empty()
                   ? kExitOk
                   : kExitFailure;
    }

  private:
    enum class Outcome { Running, Finished, Stopped, Aborted };

    void drawBar(std::chrono::steady_clock::time_point now) {
        lastDraw_ = now;
        std::size_t done = sent_ + failed_ + skipped_;
        std::size_t total = known_ > done ? known_ : done;
        int width = 30, filled = total ? static_cast<int>(done * width / total) : width;
        double secs = std::chrono::duration<double>(now - start_).count();
        std::string pace = pace_ > 0 ? "  " + paceStatusText(pace_, total - done) : "";
        std::fprintf(stdout, "\r[%s%s] %zu/%zu  sent %zu  failed %zu  %.0f/s%s  %s\033[K",
                     std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                     done, total, sent_, failed_, secs > 0 ? (sent_ + failed_) / secs : 0.0,
                     pace.c_str(), group_.c_str());
        std::fflush(stdout);
        barShown_ = true;
    }
    void clearBar() {
        if (barShown_) std::fputs("\r\033[K", stdout), std::fflush(stdout);
        barShown_ = false;
    }
    void report(const RunSummary& s, Outcome outcome) {
        std::lock_guard g(m_);
        if (terminal_) drawBar(std::chrono::steady_clock::now());
        if (barShown_) std::fputs("\n", stdout);
        barShown_ = false;
        summary_ = s;
        outcome_ = outcome;
        double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (outcome == Outcome::Finished)
            std::cout << kMsgFinished << '\n';
        else
            std::cout << "Sending stopped.\n";
        std::cout << "Sent: " << s.sent << "  Failed: " << s.failed << "  Skipped: " << s.skipped
                  << "  (" << static_cast<long>(secs * 1000) << " ms)\n";
        if (!s.unavailableGroups.empty())
            std::cout << unavailableGroupsText(s.unavailableGroups) << '\n';
        if (s.askSupport) {
            std::string question = supportQuestion(s.failedPercent);
            std::cout << question.substr(0, question.find('\n')) << '\n';
        }
        std::cout.flush();
    }

    mutable std::mutex m_;
    const bool terminal_;
    std::string relay_;
    std::size_t known_ = 0, sent_ = 0, failed_ = 0, skipped_ = 0;
    std::string group_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), lastDraw_{};
    bool barShown_ = false;
    double pace_ = 0;  // messages per minute; 0 without a pace
    Outcome outcome_ = Outcome::Running;
    RunSummary summary_;
};

// Starts the run and waits for it; Ctrl+C is the Stop command.
int runCampaign(RunRequest request, const SettingsStore& settings) {
    Paths paths = Paths::current(settings);
    std::string error;
    if (!paths.ensureFolders(&error)) return fail(error);

    SendLogBuffer log;
    ConsoleObserver observer(::isatty(STDOUT_FILENO) == 1);
    observer.setRelay(request.delivery);
    CampaignRun run(paths, log, observer);
    struct sigaction action {
    }, previous{};
    action.sa_handler = onInterrupt;
    ::sigaction(SIGINT, &action, &previous);
    const bool resume = request.resumed != nullptr;
    const std::string journal = request.resumePath;
    if (!run.start(std::move(request)))
        return fail(resume ? "Cannot resume " + journal +
                                 ": another process is sending it, or it changed since it was read."
                           : std::string(kMsgNoValidAddress));
    while (run.sending()) {
        if (interruptRequested.exchange(false)) run.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.wait();
    ::sigaction(SIGINT, &previous, nullptr);
    return observer.exitCode();
}

struct SendOptions {
    MessageOptions message;
    DeliveryOptions delivery;
    DkimOptions dkim;
    std::string to, groups;
    bool resume = false;
    bool noJournal = false;
    std::string journal;  // with --resume: which run; the newest when empty
};

// The journal a resume or a discard names: the one given, else the newest of the data folder.
std::optional<std::string> chosenJournal(const Paths& paths, const std::string& given) {
    if (!given.empty()) return given;
    std::vector<std::string> all = listJournals(paths);
    if (all.empty()) {
        fail("There is no interrupted run to resume.");
        return std::nullopt;
    }
    return all.front();
}

// send --resume: the interrupted run goes on from its journal, to the recipients it never offered.
int runResume(const SendOptions& o) {
    const SettingsStore settings = SettingsStore::open();
    Paths paths = Paths::current(settings);
    auto path = chosenJournal(paths, o.journal);
    if (!path) return kExitFailure;
    RunRequest request;
    std::string error;
    if (!buildResumeRequest(*path, settings, resolveDkim(o.dkim), request, error))
        return fail(error);
    if (!o.delivery.passwordEnv.empty()) {
        const char* value = std::getenv(o.delivery.passwordEnv.c_str());
        if (!value)
            return fail("The environment variable " + o.delivery.passwordEnv + " is not set.");
        request.delivery.password = value;
    }
    const JournalContents& j = *request.resumed;
    std::cerr << "Resuming " << *path << ": " << j.sent() << " sent, " << j.failed() << " failed, "
              << j.inDoubt.size() << " may have been delivered.\n";
    return runCampaign(std::move(request), settings);
}

// send and test-campaign: the same request as the window's Send builds, from the options.
int runSend(const SendOptions& o, bool testCampaign) {
    RunFields fields;
    std::string error;
    if (!deliveryChosen(o.delivery, error)) return fail(error);
    if (!resolveDelivery(o.delivery, fields.delivery, error)) return fail(error);
    applyProfileOrder(o.message.shape, o.delivery, fields.delivery);
    if (!fillMessage(o.message, fields.message, error)) return fail(error);
    fields.recipientsText = o.to;
    fields.groupsText = o.groups;
    fields.testCampaign = testCampaign;
    fields.dkim = resolveDkim(o.dkim);

    const SettingsStore settings = SettingsStore::open();
    RunRequestHooks hooks;
    hooks.confirm = confirmOnStderr;
    hooks.note = [](std::string_view text) { std::cerr << text << '\n'; };
    RunBuild built = buildRunRequest(std::move(fields), settings, hooks);
    if (!built.unfinishedGroup.empty())
        std::cerr << "Not a group (each name ends in ';'): " << built.unfinishedGroup << '\n';
    if (!built.check.ok) return fail(built.check.message);
    built.request.journal = !o.noJournal;
    return runCampaign(std::move(built.request), settings);
}

int runTestCampaign(const SendOptions& o) {
    if (auto message = checkTestAddresses(o.to)) return fail(*message);
    if (parseAddressList(o.to).addresses.empty()) return fail(kMsgNoTestAddress);
    return runSend(o, true);
}

}  // namespace

void addSendCommands(CLI::App& app, int& exitCode) {
    {
        auto o = std::make_shared<SendOptions>();
        auto* send = app.add_subcommand(
            "send", "Send a campaign to typed addresses and groups (Ctrl+C stops it)");
        addMessageOptions(send, o->message);
        addShapeOptions(send, o->message.shape, o->message.unsubscribeOption);
        send->add_option("--to", o->to, "Typed addresses, separated by ';' or ','");
        send->add_option(
            "--groups", o->groups,
            "Group names, each followed by ';' (text after the last ';' is not a group)");
        addDeliveryOptions(send, o->delivery);
        addDkimOptions(send, o->dkim);
        send->add_flag("--resume", o->resume,
                       "Go on with an interrupted run from its journal (see runs list); the "
                       "message, recipients and settings are the run's own");
        send->add_flag("--no-journal", o->noJournal,
                       "Keep no run journal: a run killed half way cannot be resumed");
        send->add_option("--journal", o->journal,
                         "With --resume: the run's journal file (the "
                         "newest when not given)");
        // A resume takes the message from its journal: the message options are needed only
        // without --resume.
        std::vector<CLI::Option*> messageNeeds;
        for (const char* name : {"--from-name", "--from", "--subject"}) {
            CLI::Option* option = send->get_option(name);
            option->required(false);
            messageNeeds.push_back(option);
        }
        send->callback([&exitCode, o, messageNeeds] {
            if (o->resume) {
                exitCode = runResume(*o);
                return;
            }
            for (CLI::Option* option : messageNeeds) {
                if (option->count() == 0) {
                    std::cerr << option->get_name() << " is required\n";
                    exitCode = kExitUsage;
                    return;
                }
            }
            if (!bodyChosen(o->message)) {
                std::cerr << "Give exactly one of --html and --text.\n";
                exitCode = kExitUsage;
                return;
            }
            exitCode = runSend(*o, false);
        });
    }
    {
        auto o = std::make_shared<SendOptions>();
        auto* test = app.add_subcommand("test-campaign",
                                        "Send the message at once to at most five addresses");
        addMessageOptions(test, o->message);
        addShapeOptions(test, o->message.shape, o->message.unsubscribeOption);
        test->add_option("--to", o->to, "Up to five addresses separated by ','")->required();
        addDeliveryOptions(test, o->delivery);
        addDkimOptions(test, o->dkim);
        test->callback([&exitCode, o] {
            if (!bodyChosen(o->message)) {
                std::cerr << "Give exactly one of --html and --text.\n";
                exitCode = kExitUsage;
                return;
            }
            exitCode = runTestCampaign(*o);
        });
    }
    {
        auto* runs = app.add_subcommand("runs", "Interrupted runs kept for a resume");
        runs->require_subcommand(1);
        runs->add_subcommand("list", "List the interrupted runs, newest first")
            ->callback([&exitCode] {
                Paths paths = Paths::current(SettingsStore::open());
                for (const std::string& path : listJournals(paths)) {
                    JournalContents j;
                    std::string error;
                    if (!readJournal(path, j, &error)) {
                        std::cout << path << "  unreadable: " << error << '\n';
                        continue;
                    }
                    RunRequest r;
                    std::vector<std::pair<std::string, std::string>> texts;
                    const bool known = decodeRunRequest(j.request, r, texts);
                    std::cout << path << (journalInUse(path) ? "  (in progress)" : "") << "  sent "
                              << j.sent() << "  failed " << j.failed()
                              << "  may have been delivered " << j.inDoubt.size();
                    if (known) {
                        std::cout << "  subject: " << r.message.subject << "  typed "
                                  << r.typed.size() << "  groups " << r.groups.size();
                        for (const auto& g : r.groups) std::cout << ' ' << g << ';';
                    }
                    std::cout << '\n';
                }
                exitCode = kExitOk;
            });
        auto discarded = std::make_shared<std::string>();
        auto all = std::make_shared<bool>(false);
        auto* discard =
            runs->add_subcommand("discard", "Forget an interrupted run: it will not be resumed");
        discard->add_option("JOURNAL", *discarded, "The run's journal (the newest when not given)");
        discard->add_flag("--all", *all, "Every interrupted run");
        discard->callback([&exitCode, discarded, all] {
            Paths paths = Paths::current(SettingsStore::open());
            std::vector<std::string> gone;
            if (*all) {
                gone = listJournals(paths);
            } else if (auto path = chosenJournal(paths, *discarded)) {
                JournalContents j;
                std::string error;
                // Only a journal: a mistyped path must not delete some other file.
                if (!readJournal(*path, j, &error)) {
                    exitCode = fail("Not a run journal: " + *path + " (" + error + ")");
                    return;
                }
                if (journalInUse(*path)) {
                    exitCode = fail("The run is still in progress: " + *path);
                    return;
                }
                gone.push_back(*path);
            } else {
                exitCode = kExitFailure;
                return;
            }
            for (const auto& path : gone) {
                if (journalInUse(path)) continue;  // a run going on is not interrupted
                if (!removeFile(path)) {
                    exitCode = fail("Cannot remove " + path + ".");
                    return;
                }
                std::cout << "Discarded " << path << '\n';
            }
            exitCode = kExitOk;
        });
    }
    {
        auto group = std::make_shared<std::string>(kGeneralGroup);
        auto* report = app.add_subcommand(
            "report", "Print the last run's delivery report of GROUP (\"<General>\" when none)");
        report->add_option("GROUP", *group, "Group name");
        report->callback([&exitCode, group] {
            Paths paths = Paths::current(SettingsStore::open());
            std::string text;
            if (!readFile(reportPath(paths, *group), text)) {
                exitCode = fail("No delivery report for " + *group + ".");
                return;
            }
            std::cout << text;
            exitCode = kExitOk;
        });
    }
}

}  // namespace qm::cli
