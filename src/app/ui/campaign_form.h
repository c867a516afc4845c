// The campaign fields above the main window's tabs: sender name, sender address, subject, the
// recipients box with its "(?)" hint, the groups field with "Select Group", and the attachment
// list with "Attach" and "Delete". The form lays them out with their limits and tips and chooses
// the groups itself ("Select Groups" dialog); what the fields mean at Send is the core's
// (delivery/run_request.h), which the window calls.
//
// Entry points: fillMessage() / showMessage() move the sender and subject between the fields and
// the message; showAttachments() lists the message's attachments; setAttachmentCommands() ties
// "Attach", "Delete" and the list's own menu to the window's commands, whose enabled state the
// buttons follow; setLocked() is the lock during a run.
// Limits: sender address 100, sender name and subject 200, recipients 2,752,512 characters (the
// rest of a longer paste is cut off).
#pragma once

#include <QWidget>
#include <cstddef>
#include <optional>

#include "message/campaign_message.h"

class QAction;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace qm {
class Paths;
}

namespace qm::ui {

class CampaignForm : public QWidget {
    Q_OBJECT
  public:
    explicit CampaignForm(const Paths& paths, QWidget* parent = nullptr);

    void setAttachmentCommands(QAction* add, QAction* removeSelected, QAction* removeAll);

    // Sender name, sender address and subject as typed.
    void fillMessage(CampaignMessage& message) const;
    // The same three as the message holds them (the check trims them).
    void showMessage(const CampaignMessage& message);
    void showAttachments(const AttachmentList& attachments);
    // The chosen row of the attachment list, if one is chosen.
    std::optional<std::size_t> selectedAttachment() const;
    // New Email: sender, subject and recipients emptied; the chosen groups stay.
    void clear();
    // While a run is sent the fields, "Select Group" and the attachment list take no input.
    void setLocked(bool locked);
    // Focus on the sender or subject field; false for a field that is not on the form.
    bool focusField(MessageField field);

    QLineEdit* senderName() const { return senderName_; }
    QLineEdit* senderAddress() const { return senderAddress_; }
    QLineEdit* subject() const { return subject_; }
    QPlainTextEdit* recipients() const { return recipients_; }
    QLineEdit* groupsField() const { return groups_; }
    QListWidget* attachmentList() const { return attachments_; }
    // Last in the form's tab order; the tabs follow it.
    QWidget* lastField() const;

  private:
    void selectGroups();

    const Paths& paths_;
    QLineEdit* senderName_;
    QLineEdit* senderAddress_;
    QLineEdit* subject_;
    QPlainTextEdit* recipients_;
    QLineEdit* groups_;
    QPushButton* selectGroup_;
    QListWidget* attachments_;
    QPushButton* attach_;
    QPushButton* detach_;
};

}  // namespace qm::ui
