// "Select Groups": every group with a check box; the selection is the text of the chosen names,
// each followed by ";", as the main window's groups field holds it. "Group Management" opens the
// group window; when it closes, the selection is emptied (its groups may be gone or renamed) and
// the list read again.
#pragma once

#include <QDialog>
#include <string>

#include "config/paths.h"

class QListWidget;
class QPushButton;

namespace qm::ui {

class SelectGroupsDialog : public QDialog {
    Q_OBJECT
  public:
    SelectGroupsDialog(const Paths& paths, const QString& selection, QWidget* parent = nullptr);

    QString selection() const;
    QListWidget* list() const { return list_; }
    QPushButton* groupManagementButton() const { return manage_; }

  private:
    void fillList();
    void openGroupManagement();

    Paths paths_;
    QListWidget* list_;
    QPushButton* manage_;
    std::string selection_;
};

}  // namespace qm::ui
