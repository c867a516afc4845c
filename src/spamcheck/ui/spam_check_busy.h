// The busy window of a spam check: a running bar and "Cancel" while the analyser works on a
// thread of its own, so the main window keeps painting. Cancel stops the analyser (the core ends
// its process group); the window closes when the check has ended either way.
//
// Entry points: run() shows the window modally, runs `job` on a worker thread and returns its
// result once the thread has been joined.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "spamcheck/spam_check.h"

class QPushButton;

namespace qm::ui {

class SpamCheckBusyDialog : public QDialog {
    Q_OBJECT
  public:
    using Job = std::function<SpamCheckResult(const std::atomic<bool>& cancel)>;
    explicit SpamCheckBusyDialog(QWidget* parent = nullptr);
    ~SpamCheckBusyDialog() override;

    SpamCheckResult run(Job job);
    QPushButton* cancelButton() const { return cancel_; }
    void reject() override;  // Esc and the close box cancel too

  private:
    void cancelCheck();
    QPushButton* cancel_;
    std::atomic<bool> cancelled_{false};
    std::thread worker_;
    std::optional<SpamCheckResult> result_;
};

}  // namespace qm::ui
