// unsubscribers commands: fetch (read the unsubscribe or subscribe mailbox), filter (mark the
// listed addresses Unsubscribed in groups), save (write the Unsubscribed addresses of groups to a
// file); and "settings auto-unsubscribe". They run the same core and print the same texts as the
// screens; Ctrl+C stops a fetch between messages or in a network wait.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "config/settings.h"
#include "groups/group_selection.h"
#include "subscriptions/mailbox_settings.h"
#include "subscriptions/retrieval.h"
#include "subscriptions/unsubscriber_filter.h"

namespace qm::cli {

namespace {

// The flag that Ctrl+C clears; set only while a fetch runs.
std::atomic<bool>* gRunning = nullptr;

extern "C" void onFetchInterrupt(int) {
    // stop() takes a lock; from a signal handler only the flag is safe. The run reads it before
    // each message, and the POP3 time-outs bound any wait.
    if (gRunning) gRunning->store(false);
}

struct Printer : RetrievalObserver, FilterObserver {
    void status(const std::string& t) override { std::cerr << t << '\n'; }
    void listed(const std::string& a) override { std::cout << a << '\n'; }
    void notice(const std::string& t) override { std::cerr << t << '\n'; }
};

enum class FilterMode { Filter, Save };

std::vector<std::string> chosenGroups(const std::string& selection) {
    return splitGroupSelection(selection);
}

void fetchCommand(CLI::App& parent, int& exitCode) {
    struct Options {
        std::string server, security = "none", user, passwordEnv, out, groups, caFile;
        int port = 0;
        bool subscribe = false;
        std::string verify = "y";
    };
    auto o = std::make_shared<Options>();
    auto* fetch = parent.add_subcommand(
        "fetch", "Read the mailbox, record each sender and write the addresses to --out");
    fetch->add_option("--server", o->server, "POP3 server")->required();
    fetch->add_option("--port", o->port, "Port (110, or 995 with --security tls)")
        ->check(CLI::Range(1, 65535));
    fetch->add_option("--security", o->security, "none, stls or tls")
        ->check(CLI::IsMember({"none", "stls", "tls"}));
    fetch->add_option("--verify-cert", o->verify, "y or n")->check(CLI::IsMember({"y", "n"}));
    fetch->add_option("--ca-file", o->caFile, "PEM file of trusted CAs instead of the system's");
    fetch->add_option("--user", o->user, "Mailbox user name")->required();
    fetch
        ->add_option("--password-env", o->passwordEnv,
                     "Name of the environment variable that holds the password")
        ->required();
    fetch->add_option("--out", o->out, "File for the harvested addresses")->required();
    fetch->add_flag("--subscribe", o->subscribe, "Subscribe mode: add new senders to --groups");
    fetch->add_option("--groups", o->groups, "Subscribe mode: \"G1;G2;\"");
    fetch->callback([&exitCode, o] {
        const char* password = std::getenv(o->passwordEnv.c_str());
        if (!password || !*password) {
            // The window's "Please fill the password." names no field the command line has.
            exitCode =
                fail("The environment variable " + o->passwordEnv + " named by --password-env is " +
                     (password ? "empty" : "not set") + "; it must hold the mailbox password.");
            return;
        }
        RetrievalRequest req;
        req.server = o->server;
        parsePop3Security(o->security, req.security.mode);
        req.port = o->port ? o->port
                           : (req.security.mode == Pop3Security::Tls ? Pop3Client::kDefaultTlsPort
                                                                     : Pop3Client::kDefaultPort);
        req.security.verifyCert = o->verify == "y";
        req.security.caFile = o->caFile;
        req.user = o->user;
        req.password = password ? password : "";
        req.outputFile = o->out;
        req.mode = o->subscribe ? RetrievalMode::Subscribe : RetrievalMode::Unsubscribe;
        req.groups = chosenGroups(o->groups);
        RetrievalInputCheck check =
            checkRetrievalInput(req.user, req.password, req.server, req.outputFile);
        if (!check.ok()) {
            exitCode = fail(check.message);
            return;
        }
        if (o->subscribe && req.groups.empty()) {
            exitCode = fail("Please select group(s).");
            return;
        }
        auto paths = readyPaths();
        if (!paths) {
            exitCode = kExitFailure;
            return;
        }
        std::vector<std::string> list;
        RetrievalRun run(*paths, req, list);
        std::atomic<bool> running{true};
        gRunning = &running;
        auto old = std::signal(SIGINT, onFetchInterrupt);
        Printer printer;
        // The flag from Ctrl+C reaches the run through a watcher that may call stop().
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done.load()) {
                if (!running.load()) {
                    run.stop();
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        RetrievalResult r = run.run(printer);
        done = true;
        watcher.join();
        std::signal(SIGINT, old);
        gRunning = nullptr;
        switch (r.outcome) {
            case RetrievalOutcome::Done:
            case RetrievalOutcome::NoMessages:
                std::cerr << r.message << '\n';
                exitCode = kExitOk;
                break;
            case RetrievalOutcome::Stopped:
                exitCode = fail("Stopped.");
                break;
            case RetrievalOutcome::Failed:
                exitCode = fail(r.message);
                break;
        }
    });
}

// One of the two group commands: `file` is the input (filter) or the output (save).
void groupFileCommand(CLI::App& parent, int& exitCode, FilterMode mode) {
    const bool filter = mode == FilterMode::Filter;
    auto groups = std::make_shared<std::string>();
    auto file = std::make_shared<std::string>();
    auto* command = parent.add_subcommand(
        filter ? "filter" : "save",
        filter ? "Mark the addresses listed in --file Unsubscribed in --groups"
               : "Write the addresses of the Unsubscribed recipients of --groups to --out");
    command->add_option("--groups", *groups, "\"G1;G2;\"")->required();
    command
        ->add_option(filter ? "--file" : "--out", *file,
                     filter ? "Text file of addresses" : "Output file")
        ->required();
    command->callback([&exitCode, groups, file, filter] {
        std::vector<std::string> chosen = chosenGroups(*groups), addresses;
        FilterStartCheck check =
            filter ? checkFilterStart(chosen, *file, addresses) : checkSaveStart(chosen, *file);
        if (!check.ok()) {
            exitCode = fail(check.message);
            return;
        }
        auto paths = readyPaths();
        if (!paths) {
            exitCode = kExitFailure;
            return;
        }
        std::atomic<bool> running{true};
        Printer printer;
        FilterResult r = filter ? filterGroups(*paths, chosen, addresses, running, printer)
                                : saveUnsubscribed(*paths, chosen, *file, running, printer);
        // An empty closing text is a save that could not write its file (noticed above).
        if (r.message.empty()) {
            exitCode = kExitFailure;
            return;
        }
        std::cerr << r.message << '\n';
        exitCode = r.outcome == FilterOutcome::GroupsSkipped ? kExitFailure : kExitOk;
    });
}

}  // namespace

void addSubscriptionCommands(CLI::App& app, int& exitCode) {
    auto* unsub = app.add_subcommand(
        "unsubscribers", "Read the unsubscribe mailbox; filter and save unsubscribed recipients");
    unsub->require_subcommand(1);
    fetchCommand(*unsub, exitCode);
    groupFileCommand(*unsub, exitCode, FilterMode::Filter);
    groupFileCommand(*unsub, exitCode, FilterMode::Save);

    // On the existing "settings" command: the AutoUnsubscribe switch.
    CLI::App* settings = app.get_subcommand("settings");
    auto state = std::make_shared<std::string>();
    auto* toggle = settings->add_subcommand(
        "auto-unsubscribe",
        "Print AutoUnsubscribe (on/off), or turn it on or off: runs skip the members listed in "
        "the unsubscriber store");
    toggle->add_option("STATE", *state, "on or off")->check(CLI::IsMember({"on", "off"}));
    toggle->callback([&exitCode, state] {
        SettingsStore store = SettingsStore::open();
        if (state->empty()) {
            std::cout << (store.readFlag(keys::kAutoUnsubscribe) ? "on" : "off") << '\n';
            exitCode = kExitOk;
            return;
        }
        std::string error;
        exitCode =
            store.writeFlag(keys::kAutoUnsubscribe, *state == "on", &error) ? kExitOk : fail(error);
    });
}

}  // namespace qm::cli
