// The one-line name dialog of the group window ("Add New Group", "Modify Group"): the typed name
// goes to `apply` (the store's create or rename); a refusal is shown and the dialog stays open.
#pragma once

#include <QDialog>
#include <functional>

#include "groups/group_store.h"

class QLineEdit;

namespace qm::ui {

class NameEntryDialog : public QDialog {
    Q_OBJECT
  public:
    using Apply = std::function<StoreResult(const QString& typed)>;
    NameEntryDialog(const QString& title, const QString& label, const QString& text, Apply apply,
                    QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }

  public slots:
    void submit();

  private:
    QLineEdit* field_;
    Apply apply_;
};

}  // namespace qm::ui
