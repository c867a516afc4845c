#include "scheduler/ui/scheduler_timer.h"

#include <QMetaObject>

namespace qm::ui {

SchedulerTimer::SchedulerTimer(const Paths& paths, SendLogBuffer& log, Prepare prepare,
                               QObject* parent)
    : QObject(parent), paths_(paths), runner_(paths, log), prepare_(std::move(prepare)) {
    connect(&timer_, &QTimer::timeout, this, &SchedulerTimer::tick);
}

SchedulerTimer::~SchedulerTimer() {
    timer_.stop();
    runner_.cancel();
    if (worker_.joinable()) worker_.join();
}

void SchedulerTimer::tick() {
    // `prepare` may show a message box, whose event loop runs this timer again: one at a time.
    if (running_ || preparing_) return;
    const std::time_t now = now_ ? now_() : std::time(nullptr);
    if (!DueRunner::firstDue(paths_, now)) return;
    preparing_ = true;
    std::optional<DueRunOptions> options = prepare_ ? prepare_() : std::nullopt;
    preparing_ = false;
    if (!options) return;
    if (now_ && !options->now) options->now = now_;
    running_ = true;
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread([this, o = std::move(*options)] {
        runner_.runDue(o);
        QMetaObject::invokeMethod(this, &SchedulerTimer::runEnded, Qt::QueuedConnection);
    });
}

void SchedulerTimer::runEnded() {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    emit scheduleChanged();
}

}  // namespace qm::ui
