// "Change Username/Password ": changes the stored mailbox user name and password (never the
// password on the mail server), after checking the old password against the stored one.
//
// Entry points: ChangePasswordDialog(store, parent); accepted when the change was stored.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace qm {
class SettingsStore;
}

namespace qm::ui {

class ChangePasswordDialog : public QDialog {
    Q_OBJECT
  public:
    ChangePasswordDialog(SettingsStore& store, QWidget* parent = nullptr);

    QLineEdit* userField() const { return user_; }
    QLineEdit* oldPasswordField() const { return old_; }
    QLineEdit* newPasswordField() const { return new_; }
    QLineEdit* confirmField() const { return confirm_; }
    QPushButton* changeButton() const { return change_; }

  private:
    void change();

    SettingsStore& store_;
    QLineEdit* user_;
    QLineEdit* old_;
    QLineEdit* new_;
    QLineEdit* confirm_;
    QPushButton* change_;
};

}  // namespace qm::ui
