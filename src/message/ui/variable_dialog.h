// "Select Dynamic Variable": the token list of the message core's table, first entry chosen.
// choose() gives the token of the chosen entry; "[**USER**]" when the dialog is closed any other
// way than by Esc, and an empty text for Esc.
#pragma once

#include <QDialog>

class QListWidget;

namespace qm::ui {

class VariableDialog : public QDialog {
    Q_OBJECT
  public:
    explicit VariableDialog(QWidget* parent = nullptr);
    static QString choose(QWidget* parent);

    QListWidget* list() const { return list_; }
    QString token() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QListWidget* list_;
    bool escaped_ = false;
};

}  // namespace qm::ui
