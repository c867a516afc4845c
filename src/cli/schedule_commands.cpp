// schedule add|list|delete|status and scheduler run-due: campaigns stored for a later start, from a
// terminal, and the runner that sends the due ones with the desktop program closed (cron or the
// systemd user timer in data/systemd).
//
// Failure: exit 1 with the system's message (a refused store, an entry that is gone, a delivery
// setting missing, a recipient that could not be sent); run-due exits 0 when another runner holds
// the schedule (that runner sends the entries).
// Threads: run-due sends on the scheduled run's thread; Ctrl+C or SIGTERM ends it at its next
// step and leaves the entry for the next start to close.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iostream>
#include <thread>

#include "cli/campaign_options.h"
#include "cli/commands.h"
#include "common/time_format.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/dkim_settings.h"
#include "delivery/run_request.h"
#include "delivery/send_log_buffer.h"
#include "scheduler/due_runner.h"
#include "scheduler/schedule_store.h"
#include "scheduler/scheduler_status.h"

namespace qm::cli {

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
    stopRequested = true;
}

Repetition parseRepeat(const std::string& name) {
    if (name == "daily") return Repetition::Daily;
    if (name == "weekly") return Repetition::Weekly;
    if (name == "monthly") return Repetition::Monthly;
    return Repetition::None;
}

struct AddOptions {
    MessageOptions message;
    std::string to, groups, at, repeat = "none";
};

int scheduleAdd(const AddOptions& o) {
    if (!o.message.unsubscribe.empty())
        return fail(
            "The outbox file has no place for an unsubscribe address: give --unsubscribe to "
            "\"scheduler run-due\" instead.");
    std::time_t at = 0;
    if (!parseLocalTime(o.at, at)) return fail("--at wants \"YYYY-MM-DD HH:MM[:SS]\".");
    auto paths = readyPaths();
    if (!paths) return kExitFailure;
    RunFields fields;
    std::string error;
    if (!resolveDelivery(DeliveryOptions{}, fields.delivery, error)) return fail(error);
    if (!fillMessage(o.message, fields.message, error)) return fail(error);
    fields.recipientsText = o.to;
    fields.groupsText = o.groups;
    const std::time_t now = std::time(nullptr);
    RunRequestHooks hooks;
    hooks.confirm = confirmOnStderr;
    hooks.note = [](std::string_view text) { std::cerr << text << '\n'; };
    hooks.startTimeValid = [at, now] { return at > now; };
    RunBuild built = buildRunRequest(std::move(fields), SettingsStore::open(), hooks);
    if (!built.unfinishedGroup.empty())
        std::cerr << "Not a group (each name ends in ';'): " << built.unfinishedGroup << '\n';
    if (!built.check.ok) return fail(built.check.message);
    ScheduleStoreResult stored =
        storeCampaign(*paths, built.request, at, parseRepeat(o.repeat), now);
    switch (stored.status) {
        case ScheduleStoreStatus::Full:
            return fail(kMsgScheduleFull);
        case ScheduleStoreStatus::Unwritable:
            return fail("The schedule file cannot be written: " + paths->schedulerFile());
        case ScheduleStoreStatus::CopyFailed:
            return fail(stored.message);
        case ScheduleStoreStatus::Saved:
            break;
    }
    if (stored.entry.outboxPath == "error")
        std::cerr << "The outbox file could not be written; the entry will send nothing.\n";
    std::cout << kMsgScheduleSaved << '\n';
    return kExitOk;
}

int scheduleList() {
    auto paths = readyPaths();
    if (!paths) return kExitFailure;
    ScheduleList list;
    list.load(paths->schedulerFile());
    std::cout << "#\tScheduled Date\tSubject\tDate Saved\tRepetition\tNext Scheduled Date\n";
    int n = 0;
    for (const ScheduleEntry& e : visibleEntries(list)) {
        ScheduleRow r = scheduleRow(e);
        std::cout << ++n << '\t' << r.scheduledDate << '\t' << r.subject << '\t' << r.savedDate
                  << '\t' << r.repetition << '\t' << r.nextDate << '\n';
    }
    if (!list.setAside().empty())
        std::cerr << list.setAside().size()
                  << " line(s) of the schedule file are not entries; they are kept as they are.\n";
    return kExitOk;
}

int scheduleDelete(int number) {
    auto paths = readyPaths();
    if (!paths) return kExitFailure;
    ScheduleList list;
    list.load(paths->schedulerFile());
    std::vector<ScheduleEntry> shown = visibleEntries(list);
    if (number < 1 || static_cast<std::size_t>(number) > shown.size())
        return fail("No scheduled mail number " + std::to_string(number) + ".");
    switch (deleteScheduled(*paths, shown[number - 1])) {
        case ScheduleDeleteStatus::Changed:
            return fail("The schedule changed meanwhile; run \"schedule list\" again.");
        case ScheduleDeleteStatus::Unwritable:
            return fail("The schedule file cannot be written: " + paths->schedulerFile());
        case ScheduleDeleteStatus::Deleted:
            break;
    }
    std::cout << "Deleted: " << shown[number - 1].subject << '\n';
    return kExitOk;
}

int scheduleStatus() {
    auto paths = readyPaths();
    if (!paths) return kExitFailure;
    std::cout << "Thread#\tStatus\tEMail\tSubject\tScheduled Date\n";
    for (const StatusRow& r : readStatusFile(paths->schedulerStatusFile()))
        std::cout << r.thread << '\t' << r.status << '\t' << r.address << '\t' << r.subject << '\t'
                  << r.scheduledDate << '\n';
    return kExitOk;
}

struct RunDueOptions {
    DeliveryOptions delivery;
    std::string now, unsubscribe, scope = "single";
    ShapeOptions shape;
    double pause = 2;  // seconds after each recipient
};

int runDue(const RunDueOptions& o) {
    auto paths = readyPaths();
    if (!paths) return kExitFailure;
    DueRunOptions run;
    if (!o.now.empty()) {
        std::time_t now = 0;
        if (!parseLocalTime(o.now, now)) return fail("--now wants \"YYYY-MM-DD HH:MM[:SS]\".");
        run.now = [now] { return now; };
    }
    std::string error;
    DeliverySettings delivery;
    if (!deliveryChosen(o.delivery, error)) {
        // A timer that fires before Quillsetup has run has nothing to complain about until an
        // entry is due.
        std::time_t now = run.now ? run.now() : std::time(nullptr);
        if (!DueRunner::firstDue(*paths, now)) return kExitOk;
        return fail(error);
    }
    if (!resolveDelivery(o.delivery, delivery, error)) return fail(error);
    applyProfileOrder(o.shape, o.delivery, delivery);
    CheckResult check = checkDeliverySettings(delivery);
    if (!check.ok) return fail(check.message);
    run.target.settings = delivery;
    run.target.mxStartTls = SettingsStore::open().readFlag(keys::kMxStartTls);
    // Stored runs are signed as the settings stand when they go out.
    if (!loadRunSigner(loadDkimSettings(SettingsStore::open()), run.sources.dkim, error))
        return fail(error);
    run.pause = std::chrono::milliseconds(static_cast<long long>(o.pause * 1000));
    run.unsubscribeAddress = o.unsubscribe;
    run.unsubscribeScope =
        o.scope == "all" ? UnsubscribeScope::AllGroups : UnsubscribeScope::SingleGroup;
    if (!resolveShape(o.shape, run.shape, error)) return fail(error);
    bool allSent = true;
    run.onEntry = [](const ScheduleEntry& e) {
        std::cout << "Sending \"" << e.subject << "\" due " << formatGridDate(e.dueAt) << '\n'
                  << std::flush;
    };
    run.onResult = [&allSent](const StatusRow& r) {
        if (r.status != kStatusSent) allSent = false;
        std::cout << r.thread << ',' << r.status << ',' << r.address << '\n' << std::flush;
    };

    SendLogBuffer log;
    DueRunner runner(*paths, log);
    struct sigaction action {
    }, oldInt{}, oldTerm{};
    action.sa_handler = onStopSignal;
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    std::atomic<bool> finished{false};
    DueRunSummary summary;
    std::thread worker([&] {
        summary = runner.runDue(run);
        finished = true;
    });
    while (!finished.load()) {
        if (stopRequested.exchange(false)) runner.cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);

    if (summary.recovered)
        std::cerr << "An interrupted scheduled run was resumed and completed; see \"schedule "
                     "status\".\n";
    switch (summary.status) {
        case DueRunStatus::Busy:
            std::cerr << "Another scheduler is sending; it will send the due entries.\n";
            return kExitOk;
        case DueRunStatus::Failed:
            return fail("The schedule file cannot be written: " + paths->schedulerFile());
        case DueRunStatus::Cancelled:
            return fail("Stopped; the entry is closed at the next start.");
        case DueRunStatus::Done:
            break;
    }
    std::cout << summary.entriesRun << " scheduled campaign(s) sent.\n";
    return allSent ? kExitOk : kExitFailure;
}

}  // namespace

void addScheduleCommands(CLI::App& app, int& exitCode) {
    auto* schedule = app.add_subcommand("schedule", "Campaigns stored for a later start");
    schedule->require_subcommand(1);
    {
        auto o = std::make_shared<AddOptions>();
        auto* add = schedule->add_subcommand(
            "add", "Store a campaign to be sent at --at, once or repeated (\"Message Saved.\")");
        addMessageOptions(add, o->message);
        // The outbox file has no place for an unsubscribe address (run-due takes one), so the
        // command does not offer what it would refuse.
        add->remove_option(add->get_option("--scope"));
        add->remove_option(o->message.unsubscribeOption);
        o->message.unsubscribeOption = nullptr;
        add->add_option("--to", o->to, "Typed addresses, separated by ';' or ','");
        add->add_option("--groups", o->groups, "Group names, each followed by ';'");
        add->add_option("--at", o->at, "Start moment, \"YYYY-MM-DD HH:MM[:SS]\" local time")
            ->required();
        add->add_option("--repeat", o->repeat, "Repetition")
            ->check(CLI::IsMember({"none", "daily", "weekly", "monthly"}));
        add->callback([&exitCode, o] {
            if (!bodyChosen(o->message)) {
                std::cerr << "Give exactly one of --html and --text.\n";
                exitCode = kExitUsage;
                return;
            }
            exitCode = scheduleAdd(*o);
        });
    }
    schedule->add_subcommand("list", "The scheduled mails, numbered as delete takes them")
        ->callback([&exitCode] { exitCode = scheduleList(); });
    {
        auto number = std::make_shared<int>(0);
        auto* del = schedule->add_subcommand(
            "delete", "Delete scheduled mail N (as list numbers it) and its outbox file");
        del->add_option("N", *number, "Number from schedule list")->required();
        del->callback([&exitCode, number] { exitCode = scheduleDelete(*number); });
    }
    schedule->add_subcommand("status", "Every result of every scheduled run, oldest first")
        ->callback([&exitCode] { exitCode = scheduleStatus(); });

    auto* scheduler = app.add_subcommand("scheduler", "The runner of scheduled campaigns");
    scheduler->require_subcommand(1);
    auto o = std::make_shared<RunDueOptions>();
    auto* due = scheduler->add_subcommand(
        "run-due", "Send every due scheduled campaign and exit (for cron or a systemd timer)");
    addRelayOptions(due, o->delivery);
    due->add_flag("--mx", o->delivery.mx, "Deliver to each recipient's mail exchanger")
        ->excludes(due->get_option("--server"));
    addMxOrderOption(due, o->delivery);
    due->add_option("--now", o->now,
                    "Act as if it were this moment, \"YYYY-MM-DD HH:MM[:SS]\" (for trying a "
                    "schedule)");
    auto* unsubscribe =
        due->add_option("--unsubscribe", o->unsubscribe, "Address for unsubscribe requests");
    due->add_option("--scope", o->scope, "Unsubscribe scope")
        ->check(CLI::IsMember({"single", "all"}))
        ->needs(unsubscribe);
    addShapeOptions(due, o->shape, unsubscribe);
    due->add_option("--pause", o->pause, "Seconds to wait after each recipient (default 2)")
        ->check(CLI::Range(0.0, 60.0));
    due->callback([&exitCode, o] { exitCode = runDue(*o); });
}

}  // namespace qm::cli
