// The window's end of the send engine's observer. The engine calls it from its own threads; each
// call is carried out on the window's thread, in order: the grid and progress of the "Send Status"
// tab, the current group, and the end of the run (RunHost::runFinished/runStopped/runAborted).
//
// A relay failure blocks the calling sending thread until the window has handled it, as the engine
// expects of that notification. detach() releases such a thread at once and every later one: the
// window calls it before it destroys the run, whose threads it then waits for, so a thread blocked
// on a window that is going away cannot hold that wait up forever.
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>

#include "delivery/campaign_run.h"

namespace qm::ui {

class SendStatusTab;

// The window a run reports to: its "Send Status" tab, its run state and the end of the run.
class RunHost {
  public:
    virtual SendStatusTab* statusTab() const = 0;
    virtual void setSending(bool sending) = 0;
    virtual void runFinished(const RunSummary& summary) = 0;
    virtual void runAborted(const QString& message) = 0;
    virtual void runStopped() = 0;

  protected:
    ~RunHost() = default;
};

class RunForwarder : public QObject, public RunObserver {
    Q_OBJECT
  public:
    // `parent` lives on the window's thread and outlives the run; `host` is usually the same
    // object.
    RunForwarder(QObject* parent, RunHost* host);
    void detach();

    void runStarted(std::size_t typedTotal) override;
    void groupStarted(const std::string& group, std::size_t members) override;
    void result(const SendResult& result) override;
    void relayFailure(const std::string& message) override;
    void finished(const RunSummary& summary) override;
    void stopped(const RunSummary& summary) override;
    void paceChanged(double perMinute) override;

  private:
    template <typename F>
    void onWindow(F&& f);
    RunHost* window_;
    QString currentGroup_;  // window thread only: results of this group step the progress bar
    std::mutex lock_;
    std::condition_variable handled_;
    bool detached_ = false;
    unsigned long long handledFailures_ = 0;
};

}  // namespace qm::ui
