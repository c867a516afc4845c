#include "subscriptions/ui/change_password_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "config/settings.h"
#include "subscriptions/mailbox_settings.h"

namespace qm::ui {

ChangePasswordDialog::ChangePasswordDialog(SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setWindowTitle("Change Username/Password ");
    user_ = new QLineEdit;
    old_ = new QLineEdit;
    new_ = new QLineEdit;
    confirm_ = new QLineEdit;
    for (QLineEdit* e : {user_, old_, new_, confirm_}) e->setMaxLength(50);
    for (QLineEdit* e : {old_, new_, confirm_}) e->setEchoMode(QLineEdit::Password);
    user_->setToolTip("Enter your email address");
    old_->setToolTip("Enter previous password");
    new_->setToolTip("Enter new password");
    confirm_->setToolTip("Re-enter new password to confirm");
    change_ = new QPushButton("C&hange");
    change_->setToolTip(
        "Change email address/password in registry. Note: Quillmark dosen't change your "
        "password at pop3 server.");
    change_->setDefault(true);
    auto* cancel = new QPushButton("&Cancel");
    cancel->setToolTip("Discard contents and close window");
    auto* note = new QLabel(
        "This feature will not change your password of email account on the mail server. "
        "However, it allow you to synchronize password settings of Quillmark with the mail "
        "server.");
    note->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow("User Email", user_);
    form->addRow("Old Password", old_);
    form->addRow("New Password", new_);
    form->addRow("Confirm Password", confirm_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(change_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addLayout(buttons);
    resize(420, 240);

    connect(change_, &QPushButton::clicked, this, &ChangePasswordDialog::change);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ChangePasswordDialog::change() {
    PasswordChangeCheck check = checkPasswordChange(
        fromScreen(user_->text()), fromScreen(old_->text()), fromScreen(new_->text()),
        fromScreen(confirm_->text()), store_.read(keys::kInfoPass));
    if (!check.ok()) {
        inform(this, check.message);
        switch (check.focus) {
            case PasswordField::User:
                user_->setFocus();
                break;
            case PasswordField::Old:
                old_->setFocus();
                break;
            case PasswordField::New:
                new_->setFocus();
                break;
            case PasswordField::Confirm:
                if (check.status == PasswordChangeStatus::ConfirmDiffers) confirm_->clear();
                confirm_->setFocus();
                break;
            case PasswordField::None:
                break;
        }
        return;
    }
    std::string error;
    if (!applyPasswordChange(store_, fromScreen(user_->text()), fromScreen(new_->text()), &error)) {
        inform(this, error);
        return;
    }
    accept();
}

}  // namespace qm::ui
