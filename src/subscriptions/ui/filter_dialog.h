// "Filter Unsubscribers" / "Save Unsubscribed Users": every group with a check box, Select All,
// the input or output file, the help text, a progress line and Start / Stop. The work is the
// core's filterGroups() or saveUnsubscribed() on a worker thread.
//
// Entry points: UnsubscriberFilterDialog(paths, mode, parent); the main window's "Filter
// Unsubscribers..." and "Save Unsubscribed Users..." open it, and so may the group window
// (openUnsubscriberFilter() below, one call).
#pragma once

#include <QDialog>
#include <atomic>
#include <thread>

#include "config/paths.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm::ui {

enum class FilterMode { Filter, Save };

class UnsubscriberFilterDialog : public QDialog {
    Q_OBJECT
  public:
    UnsubscriberFilterDialog(Paths paths, FilterMode mode, QWidget* parent = nullptr);
    ~UnsubscriberFilterDialog() override;

    QListWidget* groupList() const { return groups_; }
    QLineEdit* fileField() const { return file_; }
    QLabel* progressLine() const { return progress_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    bool running() const { return worker_.joinable(); }
    // Start as the button does; false when a check refused.
    bool start();
    void waitForRun();

  protected:
    void reject() override;

  private:
    void browse();
    void setRunning(bool running);
    void finished(const QString& message, const QStringList& notices);

    Paths paths_;
    FilterMode mode_;
    QListWidget* groups_;
    QLineEdit* file_;
    QLabel* progress_;
    QPushButton* selectAll_;
    QPushButton* browse_;
    QPushButton* start_;
    QPushButton* stop_;
    std::atomic<bool> running_{false};
    std::thread worker_;
};

// Opens the dialog modally in `mode` over `parent`.
void openUnsubscriberFilter(const Paths& paths, FilterMode mode, QWidget* parent);

}  // namespace qm::ui
