// "Select Groups": every group with a check box; the selection is the text of the chosen names,
// each followed by ";", as the main window's groups field holds it.
#pragma once

#include <QDialog>
#include <string>

class QListWidget;
class QPushButton;

namespace qm {
class Paths;
}

namespace qm::ui {

class SelectGroupsDialog : public QDialog {
    Q_OBJECT
  public:
    SelectGroupsDialog(const Paths& paths, const QString& selection, QWidget* parent = nullptr);

    QString selection() const;
    QListWidget* list() const { return list_; }
    QPushButton* groupManagementButton() const { return manage_; }

  private:
    QListWidget* list_;
    QPushButton* manage_;
    std::string selection_;
};

}  // namespace qm::ui
