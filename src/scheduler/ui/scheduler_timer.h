// The desktop program's scheduler timer: every 5 seconds it looks whether a stored campaign is
// due and, when one is, hands the due entries to the core's runner (scheduler/due_runner.h) on a
// thread of its own, so the window stays responsive for the whole run.
//
// Entry points: SchedulerTimer(paths, log, prepare); start(); tick() (what the timer calls; tests
// call it directly); setClock() (tests); scheduleChanged, emitted on the window's thread after
// each run so the grid is rebuilt; running().
//
// `prepare` runs on the window's thread at a tick that found a due entry: it makes the delivery
// settings check (showing its message, at every tick while it fails) and gives the run's options,
// or nothing to skip the tick. A tick while a run is in progress does nothing; a runner of another
// process holding the schedule makes the run return at once (that runner sends the entries).
//
// Lifetime: the destructor cancels a run in progress and joins its thread; the entry is then
// closed by the next start (see due_runner.h).
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>

#include "scheduler/due_runner.h"

namespace qm {
class Paths;
class SendLogBuffer;
}  // namespace qm

namespace qm::ui {

class SchedulerTimer : public QObject {
    Q_OBJECT
  public:
    using Prepare = std::function<std::optional<DueRunOptions>()>;
    static constexpr int kIntervalMs = 5000;

    SchedulerTimer(const Paths& paths, SendLogBuffer& log, Prepare prepare,
                   QObject* parent = nullptr);
    ~SchedulerTimer() override;

    void start() { timer_.start(kIntervalMs); }
    void tick();
    bool running() const { return running_; }
    void setClock(std::function<std::time_t()> now) { now_ = std::move(now); }

  signals:
    void scheduleChanged();

  private:
    void runEnded();

    const Paths& paths_;
    DueRunner runner_;
    Prepare prepare_;
    std::function<std::time_t()> now_;
    QTimer timer_;
    bool running_ = false;
    bool preparing_ = false;
    std::thread worker_;
};

}  // namespace qm::ui
