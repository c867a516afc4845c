#include "app/ui/campaign_form.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/text.h"
#include "groups/ui/select_groups_dialog.h"

namespace qm::ui {

namespace {

constexpr int kRecipientsLimit = 2752512;

QLineEdit* limitedField(int limit, const QString& tip) {
    auto* field = new QLineEdit;
    field->setMaxLength(limit);
    field->setToolTip(tip);
    return field;
}

}  // namespace

CampaignForm::CampaignForm(const Paths& paths, QWidget* parent) : QWidget(parent), paths_(paths) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);

    senderAddress_ =
        limitedField(100, "Enter sender's email address, for example john.smith@example.com");
    senderName_ = limitedField(200, "Enter sender's name");
    subject_ = limitedField(200, "Enter subject of mail");
    grid->addWidget(new QLabel("Sender Name"), 0, 0);
    grid->addWidget(senderName_, 0, 1);
    grid->addWidget(new QLabel("Sender Email"), 1, 0);
    grid->addWidget(senderAddress_, 1, 1);
    grid->addWidget(new QLabel("Subject"), 2, 0);
    grid->addWidget(subject_, 2, 1);

    recipients_ = new QPlainTextEdit;
    recipients_->setToolTip(
        "Add new recipients to list. Valid separators are space, semi-colon and comma.");
    recipients_->setMaximumHeight(52);
    connect(recipients_, &QPlainTextEdit::textChanged, this, [this] {
        // characterCount() counts the closing paragraph mark as one.
        if (recipients_->document()->characterCount() - 1 <= kRecipientsLimit) return;
        QTextCursor cursor(recipients_->document());
        cursor.setPosition(kRecipientsLimit);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    });
    auto* help = new QLabel("(?)");
    help->setToolTip("You can add Recipient's Email IDs separated with semicolon or comma.");
    groups_ = new QLineEdit;
    groups_->setReadOnly(true);
    groups_->setToolTip("Groups selected to send mail");
    groups_->setPlaceholderText("No group selected");
    selectGroup_ = new QPushButton("Select Group");
    selectGroup_->setToolTip("Choose the groups that receive this mail");
    connect(selectGroup_, &QPushButton::clicked, this, &CampaignForm::selectGroups);
    auto* recipientLabel = new QHBoxLayout;
    recipientLabel->addWidget(new QLabel("Recipients"));
    recipientLabel->addWidget(help);
    recipientLabel->addStretch();
    grid->addLayout(recipientLabel, 3, 0, Qt::AlignTop);
    grid->addWidget(recipients_, 3, 1);
    auto* groupRow = new QHBoxLayout;
    groupRow->addWidget(groups_, 1);
    groupRow->addWidget(selectGroup_);
    grid->addWidget(new QLabel("Groups"), 4, 0);
    grid->addLayout(groupRow, 4, 1);

    attachments_ = new QListWidget;
    attachments_->setToolTip("Select attachments upto a maximum total size of 2MB");
    attachments_->setMaximumHeight(96);
    attach_ = new QPushButton("Attach");
    detach_ = new QPushButton("Delete");
    auto* attachButtons = new QHBoxLayout;
    attachButtons->addWidget(attach_);
    attachButtons->addWidget(detach_);
    attachButtons->addStretch();
    auto* attachBox = new QVBoxLayout;
    attachBox->addWidget(new QLabel("Attachment"));
    attachBox->addWidget(attachments_, 1);
    attachBox->addLayout(attachButtons);
    grid->addLayout(attachBox, 0, 2, 5, 1);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);

    setTabOrder(senderName_, senderAddress_);
    setTabOrder(senderAddress_, subject_);
    setTabOrder(subject_, recipients_);
    setTabOrder(recipients_, selectGroup_);
    setTabOrder(selectGroup_, attachments_);
    setTabOrder(attachments_, attach_);
    setTabOrder(attach_, detach_);
}

void CampaignForm::setAttachmentCommands(QAction* add, QAction* removeSelected,
                                         QAction* removeAll) {
    connect(attach_, &QPushButton::clicked, add, &QAction::trigger);
    connect(detach_, &QPushButton::clicked, removeSelected, &QAction::trigger);
    attach_->setEnabled(add->isEnabled());
    detach_->setEnabled(removeSelected->isEnabled());
    connect(add, &QAction::enabledChanged, attach_, &QWidget::setEnabled);
    connect(removeSelected, &QAction::enabledChanged, detach_, &QWidget::setEnabled);
    // The list's own menu: "Add Attachment", "Remove Attachment", "Remove All".
    attachments_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(attachments_, &QWidget::customContextMenuRequested, this, [=, this](const QPoint& at) {
        QMenu menu;
        QAction* addEntry = menu.addAction("Add Attachment");
        QAction* dropEntry = menu.addAction("Remove Attachment");
        QAction* dropAllEntry = menu.addAction("Remove All");
        addEntry->setEnabled(add->isEnabled());
        dropEntry->setEnabled(removeSelected->isEnabled());
        dropAllEntry->setEnabled(removeAll->isEnabled());
        QAction* chosen = menu.exec(attachments_->viewport()->mapToGlobal(at));
        if (chosen == addEntry) add->trigger();
        if (chosen == dropEntry) removeSelected->trigger();
        if (chosen == dropAllEntry) removeAll->trigger();
    });
}

QWidget* CampaignForm::lastField() const {
    return detach_;
}

void CampaignForm::fillMessage(CampaignMessage& m) const {
    m.senderName = fromScreen(senderName_->text());
    m.senderAddress = fromScreen(senderAddress_->text());
    m.subject = fromScreen(subject_->text());
}

void CampaignForm::showMessage(const CampaignMessage& m) {
    senderName_->setText(toScreen(m.senderName));
    senderAddress_->setText(toScreen(m.senderAddress));
    subject_->setText(toScreen(m.subject));
}

void CampaignForm::showAttachments(const AttachmentList& list) {
    attachments_->clear();
    for (const std::string& name : list.names()) attachments_->addItem(toScreen(name));
}

std::optional<std::size_t> CampaignForm::selectedAttachment() const {
    if (attachments_->currentRow() < 0 || attachments_->selectedItems().isEmpty())
        return std::nullopt;
    return static_cast<std::size_t>(attachments_->currentRow());
}

void CampaignForm::clear() {
    senderAddress_->clear();
    senderName_->clear();
    subject_->clear();
    recipients_->clear();
}

void CampaignForm::setLocked(bool locked) {
    for (QWidget* w : {static_cast<QWidget*>(senderName_), static_cast<QWidget*>(senderAddress_),
                       static_cast<QWidget*>(subject_), static_cast<QWidget*>(recipients_),
                       static_cast<QWidget*>(selectGroup_), static_cast<QWidget*>(attachments_)})
        w->setEnabled(!locked);
}

bool CampaignForm::focusField(MessageField field) {
    switch (field) {
        case MessageField::SenderName:
            senderName_->setFocus();
            return true;
        case MessageField::SenderAddress:
            senderAddress_->setFocus();
            return true;
        case MessageField::Subject:
            subject_->setFocus();
            return true;
        default:
            return false;
    }
}

void CampaignForm::selectGroups() {
    SelectGroupsDialog dialog(paths_, groups_->text(), this);
    dialog.exec();
    groups_->setText(dialog.selection());
}

}  // namespace qm::ui
