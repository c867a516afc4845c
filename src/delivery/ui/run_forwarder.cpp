#include "delivery/ui/run_forwarder.h"

#include <QThread>

#include "common/ui/text.h"
#include "delivery/delivery_report.h"
#include "delivery/ui/send_status_tab.h"

namespace qm::ui {

RunForwarder::RunForwarder(QObject* parent, RunHost* host) : QObject(parent), window_(host) {}

template <typename F>
void RunForwarder::onWindow(F&& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

void RunForwarder::detach() {
    {
        std::lock_guard guard(lock_);
        detached_ = true;
    }
    handled_.notify_all();
}

void RunForwarder::runStarted(std::size_t typedTotal) {
    onWindow([this, typedTotal] {
        SendStatusTab* status = window_->statusTab();
        status->reset();
        currentGroup_ = typedTotal > 0 ? toScreen(kGeneralGroup) : QString();
        status->setCurrentGroup(currentGroup_);
        status->setProgressRange(static_cast<int>(typedTotal));
        window_->setSending(true);
    });
}

void RunForwarder::groupStarted(const std::string& group, std::size_t members) {
    onWindow([this, name = toScreen(group), members] {
        currentGroup_ = name;
        window_->statusTab()->setCurrentGroup(name);
        window_->statusTab()->setProgressRange(static_cast<int>(members));
    });
}

void RunForwarder::result(const SendResult& r) {
    onWindow([this, thread = toScreen(r.thread), sent = r.sent, group = toScreen(r.group),
              address = toScreen(r.address)] {
        SendStatusTab* status = window_->statusTab();
        status->addResult(thread, sent, group, address);
        if (group == currentGroup_) status->stepProgress();
    });
}

void RunForwarder::relayFailure(const std::string& message) {
    std::unique_lock guard(lock_);
    if (detached_) return;
    const unsigned long long ticket = handledFailures_ + 1;
    guard.unlock();
    onWindow([this, text = toScreen(message)] {
        window_->runAborted(text);
        {
            std::lock_guard done(lock_);
            ++handledFailures_;
        }
        handled_.notify_all();
    });
    guard.lock();
    handled_.wait(guard, [&] { return detached_ || handledFailures_ >= ticket; });
}

void RunForwarder::finished(const RunSummary& summary) {
    onWindow([this, summary] { window_->runFinished(summary); });
}

void RunForwarder::paceChanged(double perMinute) {
    onWindow([this, perMinute] { window_->statusTab()->setPace(perMinute); });
}

void RunForwarder::stopped(const RunSummary&) {
    onWindow([this] { window_->runStopped(); });
}

}  // namespace qm::ui
