// "Stopping Threads...": the small window with a progress bar shown while the window waits for a
// run's sending threads to end (after Stop, and at the end of a run). It only shows progress; the
// waiting itself is the send engine's.
#pragma once

#include <QDialog>

class QProgressBar;

namespace qm::ui {

class StoppingThreadsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit StoppingThreadsDialog(QWidget* parent = nullptr);
    // The bar runs to its end: every thread has ended.
    void done();
    QProgressBar* bar() const { return bar_; }

  private:
    QProgressBar* bar_;
};

}  // namespace qm::ui
