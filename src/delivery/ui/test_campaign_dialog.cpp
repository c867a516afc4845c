#include "delivery/ui/test_campaign_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/not_available.h"
#include "common/ui/text.h"

namespace qm::ui {

TestCampaignDialog::TestCampaignDialog(AddressCheck check, QWidget* parent)
    : QDialog(parent), check_(std::move(check)) {
    setWindowTitle("Test Campaign");
    auto* label = new QLabel(
        "Enter Email IDs:\nYou can specify \nupto 5 Email IDs.\nSeparated by \ncomma (,)");
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    field_ = new QPlainTextEdit;
    field_->setToolTip("Addresses that receive the test campaign");
    send_ = new QPushButton("Send");
    send_->setDefault(true);
    if (!check_) markNotAvailable(send_);
    connect(send_, &QPushButton::clicked, this, [this] {
        std::string message = check_(fromScreen(field_->toPlainText()));
        if (message.empty()) {
            accept();
        } else {
            inform(this, message);
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(field_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(send_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addLayout(buttons);
    resize(420, 200);
}

QString TestCampaignDialog::addresses() const {
    return field_->toPlainText();
}

}  // namespace qm::ui
