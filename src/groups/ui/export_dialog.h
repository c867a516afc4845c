// "Export Recipients": the loaded group to a text or CSV file in one of three modes ("Emails",
// "Emails And Name", "All Fields") with a chosen separator. The file is written by exportToFile;
// the dialog shows its result, success or the reason it failed.
// A path ending in "csv" fixes the separator to the first of the list, as the header then
// describes the columns.
#pragma once

#include <QDialog>
#include <vector>

#include "groups/group_export.h"
#include "groups/ui/file_choice.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm::ui {

class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    ExportDialog(const std::vector<Recipient>& rows, FileChoice files, QWidget* parent = nullptr);

    QComboBox* modeList() const { return mode_; }
    QComboBox* separatorList() const { return separator_; }
    QLineEdit* outputFile() const { return output_; }
    QPushButton* exportButton() const { return export_; }

  public slots:
    void browse();
    void runExport();

  private:
    void fillSeparators();
    void outputChanged();

    const std::vector<Recipient>& rows_;
    FileChoice files_;
    QComboBox* mode_;
    QComboBox* separator_;
    QLineEdit* output_;
    QPushButton* export_;
};

}  // namespace qm::ui
