#include "message/ui/unsubscribe_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "groups/address.h"
#include "message/list_unsubscribe.h"

namespace qm::ui {

UnsubscribeDialog::UnsubscribeDialog(const QString& address, bool singleGroup, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Unsubscribe Email address");
    address_ = new QLineEdit(address);
    address_->setMaxLength(100);
    address_->setMinimumWidth(260);
    url_ = new QLineEdit;
    url_->setMaxLength(static_cast<int>(kMaxUnsubscribeUrl));
    url_->setPlaceholderText("https://example.com/unsubscribe?e=[**EMAIL**]&g=[**GROUP**]");
    url_->setToolTip(
        "Optional. Lets mail programs unsubscribe with one click; [**EMAIL**] and [**GROUP**] are "
        "filled in for each recipient");
    single_ = new QRadioButton("Single Group");
    all_ = new QRadioButton("All Groups");
    (singleGroup ? single_ : all_)->setChecked(true);
    auto* add = new QPushButton("&Add");
    add->setDefault(true);
    auto* remove = new QPushButton("&Remove");
    auto* cancel = new QPushButton("&Cancel");
    connect(add, &QPushButton::clicked, this, &UnsubscribeDialog::add);
    connect(remove, &QPushButton::clicked, this, [this] {
        address_->clear();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow("Return Email Address", address_);
    auto* scope = new QHBoxLayout;
    scope->addWidget(single_);
    scope->addWidget(all_);
    scope->addStretch();
    form->addRow("", scope);
    form->addRow("One-click URL (https)", url_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

QString UnsubscribeDialog::address() const {
    return address_->text().trimmed();
}

void UnsubscribeDialog::setUrl(const QString& url) {
    url_->setText(url);
}

QString UnsubscribeDialog::url() const {
    return url_->text().trimmed();
}

bool UnsubscribeDialog::singleGroup() const {
    return single_->isChecked();
}

void UnsubscribeDialog::add() {
    const QString text = address();
    if (text.isEmpty()) {
        inform(this, QStringLiteral("The email address must be filled up."));
    } else if (!isEmailAddress(fromScreen(text))) {
        inform(this, QStringLiteral("The email address entered is invalid."));
    } else if (std::string refusal = checkUnsubscribeUrl(fromScreen(url())); !refusal.empty()) {
        inform(this, refusal);
        url_->setFocus();
        return;
    } else {
        accept();
        return;
    }
    address_->setFocus();
}

}  // namespace qm::ui
