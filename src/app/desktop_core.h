// The objects of the desktop program that are not screens and live as long as it does: the
// settings store, the program folders, the send log buffer and the one CampaignRun. main() makes
// them before the main window and hands them in; the window only uses them. A screen test makes
// its own the same way (one line: `DesktopCore core;`, then `MainWindow window(core);`).
//
// Entry points: DesktopCore (the objects), RunObserverRelay (how the run, made before the window,
// reaches the window's observer).
//
// Lifetime: the core outlives every window built on it. A window attaches its observer to
// `runEvents` when it is made, and before it goes it stops the run, waits for its threads and
// detaches, so no call from a sending thread can reach a window that is gone. Calls that arrive
// while nothing is attached are dropped.
// Threads: attach() on the window's thread while no run is in progress; the observer calls come
// from the engine's threads, as CampaignRun makes them.
#pragma once

#include <atomic>

#include "config/paths.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/send_log_buffer.h"

namespace qm {

class RunObserverRelay : public RunObserver {
  public:
    // nullptr detaches.
    void attach(RunObserver* target) { target_.store(target); }

    void runStarted(std::size_t typedTotal) override;
    void groupStarted(const std::string& group, std::size_t members) override;
    void groupUnavailable(const std::string& group, const std::string& text) override;
    void skipped(const Recipient& member, const std::string& group) override;
    void result(const SendResult& result) override;
    void relayFailure(const std::string& message) override;
    void finished(const RunSummary& summary) override;
    void stopped(const RunSummary& summary) override;
    void paceChanged(double perMinute) override;

  private:
    std::atomic<RunObserver*> target_{nullptr};
};

struct DesktopCore {
    // The folders that `store` names (QUILLMARK_CONFIG, QUILLMARK_HOME in tests); every folder is
    // created when missing.
    explicit DesktopCore(SettingsStore store = SettingsStore::open());
    DesktopCore(SettingsStore store, Paths paths);
    DesktopCore(const DesktopCore&) = delete;
    DesktopCore& operator=(const DesktopCore&) = delete;

    SettingsStore store;
    const Paths paths;
    SendLogBuffer log;
    RunObserverRelay runEvents;
    CampaignRun run;  // last: its destructor stops and waits for a run still in progress
};

}  // namespace qm
