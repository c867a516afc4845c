#include "app/ui/run_forwarder.h"

#include <QThread>

#include "app/ui/main_window.h"
#include "app/ui/send_status_tab.h"

namespace qm::ui {

RunForwarder::RunForwarder(MainWindow* window) : QObject(window), window_(window) {}

template <typename F>
void RunForwarder::onWindow(F&& f, bool wait) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(f),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void RunForwarder::started() {
    onWindow([this] {
        window_->statusTab()->reset();
        window_->setSending(true);
    });
}

void RunForwarder::result(const QString& thread, bool sent, const QString& group,
                          const QString& address) {
    onWindow([=, this] { window_->statusTab()->addResult(thread, sent, group, address); });
}

void RunForwarder::progressRange(int total) {
    onWindow([=, this] { window_->statusTab()->setProgressRange(total); });
}

void RunForwarder::progressStep() {
    onWindow([this] { window_->statusTab()->stepProgress(); });
}

void RunForwarder::currentGroup(const QString& group) {
    onWindow([=, this] { window_->statusTab()->setCurrentGroup(group); });
}

void RunForwarder::finished(int failedPercent) {
    onWindow([=, this] { window_->runFinished(failedPercent); });
}

void RunForwarder::stopped() {
    onWindow([this] { window_->runStopped(); });
}

void RunForwarder::relayFailure(const QString& message) {
    onWindow([=, this] { window_->runAborted(message); }, true);
}

}  // namespace qm::ui
