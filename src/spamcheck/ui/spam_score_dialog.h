// "Spam Score": the analyser's rule rows in a grid ("Score", "Rule", "Description"), the score
// line, "OK", and a clickable "(?)" that opens "Help" with the verdict text for the score and the
// address of the analyser's rule list. The texts and the verdict rule are the core's
// (spamcheck/spam_report.h).
#pragma once

#include <QDialog>
#include <QPointer>

#include "spamcheck/spam_report.h"

class QLabel;
class QTableView;

namespace qm::ui {

class SpamHelpDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SpamHelpDialog(double score, QWidget* parent = nullptr);
    QLabel* textLabel() const { return text_; }

  private:
    QLabel* text_;
};

class SpamScoreDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SpamScoreDialog(SpamReport report, QWidget* parent = nullptr);
    // What "(?)" does.
    void showHelp();

    QTableView* grid() const { return grid_; }
    QLabel* scoreLabel() const { return score_; }
    QLabel* helpLink() const { return help_; }
    // The "Help" window while it is open, else nullptr.
    SpamHelpDialog* helpWindow() const { return helpWindow_; }

  private:
    SpamReport report_;
    QTableView* grid_;
    QLabel* score_;
    QLabel* help_;
    // Cleared by Qt when the window goes (closed, or with this dialog).
    QPointer<SpamHelpDialog> helpWindow_;
};

}  // namespace qm::ui
