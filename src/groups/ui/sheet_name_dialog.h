// "Enter Sheet Name": which sheet of a spreadsheet to read. It offers the file's own sheet names
// and takes a typed one; the name rules are the core's (checkSheetName()).
//
// Entry points: SheetNameDialog; askSheetName() shows it and returns the name, or nothing on
// Cancel.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QComboBox;

namespace qm::ui {

class SheetNameDialog : public QDialog {
    Q_OBJECT
  public:
    SheetNameDialog(const std::vector<std::string>& names, QWidget* parent = nullptr);

    QComboBox* nameField() const { return name_; }
    // The checked name after OK.
    const std::string& name() const { return chosen_; }

    void accept() override;

  private:
    QComboBox* name_;
    std::string chosen_;
};

std::optional<std::string> askSheetName(const std::vector<std::string>& names, QWidget* parent);

}  // namespace qm::ui
