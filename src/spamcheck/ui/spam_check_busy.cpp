#include "spamcheck/ui/spam_check_busy.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm::ui {

SpamCheckBusyDialog::SpamCheckBusyDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Spam Check");
    auto* label = new QLabel("Checking the message for spam...");
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);  // runs without a known end
    cancel_ = new QPushButton("Cancel");
    connect(cancel_, &QPushButton::clicked, this, &SpamCheckBusyDialog::cancelCheck);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(bar);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    setMinimumWidth(320);
}

SpamCheckBusyDialog::~SpamCheckBusyDialog() {
    cancelled_ = true;
    if (worker_.joinable()) worker_.join();
}

SpamCheckResult SpamCheckBusyDialog::run(Job job) {
    cancelled_ = false;
    result_.reset();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    worker_ = std::thread([this, job = std::move(job)] {
        SpamCheckResult r = job(cancelled_);
        QMetaObject::invokeMethod(
            this,
            [this, r = std::move(r)]() mutable {
                result_ = std::move(r);
                done(Accepted);
            },
            Qt::QueuedConnection);
    });
    // The window stays until the worker has reported, whatever closes it in between.
    while (!result_) exec();
    worker_.join();
    QApplication::restoreOverrideCursor();
    return std::move(*result_);
}

void SpamCheckBusyDialog::cancelCheck() {
    cancelled_ = true;
    cancel_->setEnabled(false);
    cancel_->setText("Cancelling...");
}

void SpamCheckBusyDialog::reject() {
    cancelCheck();
}

}  // namespace qm::ui
