// The "Send Status" tab: the results grid, the progress bar, "View Log", and the two status texts
// ("Total Emails sent: %d", "Current Group: %s") repainted every 200 ms while a run is sent, and
// for a paced run a third one ("Pace 300/min, about 2 min left").
//
// This is the surface the send engine's observer feeds (on the window's thread): reset() at the
// start of a run, addResult() per recipient, setProgressRange()/stepProgress(), setCurrentGroup(),
// and finished() at the end. While sending, the grid and "View Log" are disabled.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace qm::ui {

class StatusModel;

class SendStatusTab : public QWidget {
    Q_OBJECT
  public:
    explicit SendStatusTab(QWidget* parent = nullptr);

    void reset();
    // `sent` is true for a delivered message ("Sent"); otherwise the row says "Failed to Send".
    void addResult(const QString& thread, bool sent, const QString& group, const QString& address);
    void setProgressRange(int total);
    void stepProgress();
    void setCurrentGroup(const QString& group);
    // Messages per minute of a paced run (0: no pace); the status row then shows the pace and the
    // time left for the current step of the progress bar.
    void setPace(double perMinute);
    void setSending(bool sending);
    // End of a run (finish, stop or abort): progress back to 0, grid and "View Log" enabled.
    void finished();

    StatusModel* model() const { return model_; }
    QTableView* view() const { return view_; }
    QProgressBar* progress() const { return progress_; }
    QPushButton* viewLogButton() const { return viewLog_; }
    QString sentText() const;
    QString groupText() const;
    QString paceText() const;  // empty without a pace

  signals:
    void viewLogRequested();

  private:
    void paintStatus();

    StatusModel* model_;
    QTableView* view_;
    QProgressBar* progress_;
    QPushButton* viewLog_;
    QLabel* sentLabel_;
    QLabel* groupLabel_;
    QLabel* paceLabel_;
    QTimer painter_;
    bool sending_ = false;
    int sentCount_ = 0;
    double pace_ = 0;
    QString currentGroup_;
};

}  // namespace qm::ui
