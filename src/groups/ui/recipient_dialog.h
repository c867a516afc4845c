// "Add Recipient" / "Modify Recipient": the thirteen fields of a recipient with their entry
// limits. The store checks the entry (checkRecipientEntry) and makes the change; the dialog shows
// each refusal and stays open, asks about a short address, and after an add either closes, or
// clears its fields when "Clear after addition" is ticked (never once the group is full).
// A stored field shows its comma stand-ins as commas; on submit as many commas go back to the
// stand-in as the field held, so that a name the store wrote ("Smith, John" from an import)
// passes the letters-only check unchanged, while a comma the user adds is still refused.
#pragma once

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "groups/group_store.h"

class QCheckBox;
class QPushButton;
class QWidget;

namespace qm::ui {

class RecipientDialog : public QDialog {
    Q_OBJECT
  public:
    // Add when `email` is empty, else modify the recipient with that address.
    RecipientDialog(GroupStore& store, std::optional<std::string> email, QWidget* parent = nullptr);

    // The entry box of a field (a QLineEdit, or a QPlainTextEdit for the two addresses).
    QWidget* field(RecipientField f) const { return fields_[static_cast<int>(f)]; }
    void setFieldText(RecipientField f, const QString& text);
    QString fieldText(RecipientField f) const;
    QCheckBox* clearAfterAddition() const { return clear_; }
    QPushButton* submitButton() const { return submit_; }

  signals:
    // The store's rows changed (also when a refused change picked up another writer's edits).
    void storeChanged();

  public slots:
    void submit();

  private:
    void fill(const Recipient& r);
    Recipient typed() const;

    GroupStore& store_;
    std::optional<std::string> email_;
    std::array<QWidget*, kGroupLineFields> fields_{};
    std::array<int, kGroupLineFields> standIns_{};  // commas shown in place of stand-ins
    QCheckBox* clear_ = nullptr;
    QPushButton* submit_;
};

}  // namespace qm::ui
