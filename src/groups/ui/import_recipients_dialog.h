// "Import Recipients" (the group window's "Import Addresses" -> "Text And Excel Files..."), and
// the address-book import beside it ("Import Addresses" -> "Address Book (vCard)...").
//
// Entry points: ImportRecipientsDialog collects the options, runs the import (groups/
// recipient_import.h) on a worker thread and shows its messages; groupsChanged() tells the group
// window to list its groups again. importAddressBook() asks for a .vcf file and imports it on the
// window's thread (groups/vcard_import.h). The group window opens them like this:
//     ImportRecipientsDialog dialog(paths, this);
//     connect(&dialog, &ImportRecipientsDialog::groupsChanged, this, &GroupWindow::refreshGroups);
//     dialog.exec();
//     if (importAddressBook(paths, this)) refreshGroups();
// Threads: the worker reports through queued calls; closing the dialog stops the run and waits
// for its worker (the groups already written stay).
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <thread>

#include "config/paths.h"
#include "groups/recipient_import.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qm::ui {

class ImportRecipientsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ImportRecipientsDialog(Paths paths, QWidget* parent = nullptr);
    ~ImportRecipientsDialog() override;

    // The options as the inputs show them.
    ImportOptions options() const;
    bool running() const { return worker_.joinable(); }

    QRadioButton* emailsOnly() const { return emailsOnly_; }
    QRadioButton* emailsAndName() const { return emailsAndName_; }
    // "Columns of a CSV file": the header row's names in the two column choices, the first item
    // of each leaving the column to the guess from the header names.
    QRadioButton* csvColumns() const { return csvColumns_; }
    QComboBox* emailColumn() const { return emailColumn_; }
    QComboBox* nameColumn() const { return nameColumn_; }
    QRadioButton* fromFile() const { return fromFile_; }
    QRadioButton* fromDirectory() const { return fromDirectory_; }
    QCheckBox* subdirectories() const { return subdirectories_; }
    QComboBox* delimiter() const { return delimiter_; }
    QLineEdit* source() const { return source_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* stopButton() const { return stop_; }
    QLabel* progress() const { return progress_; }

    void startImport();
    void stopImport();

  signals:
    void groupsChanged();
    // After the run has ended and its message was shown.
    void importFinished();

  protected:
    void reject() override;

  private:
    void browse();
    void updateInputs();
    // Fills the column choices from the header row of the source file.
    void readColumns();
    void finish(ImportResult result);

    Paths paths_;
    QRadioButton* emailsOnly_;
    QRadioButton* emailsAndName_;
    QRadioButton* csvColumns_;
    QComboBox* emailColumn_;
    QComboBox* nameColumn_;
    QString columnsOf_;  // the file the column choices were read from
    QLabel* formatHint_;
    QRadioButton* fromFile_;
    QRadioButton* fromDirectory_;
    QCheckBox* subdirectories_;
    QComboBox* delimiter_;
    QLineEdit* source_;
    QPushButton* browse_;
    QPushButton* import_;
    QPushButton* stop_;
    QPushButton* close_;
    QLabel* progress_;
    std::atomic<bool> running_{false};
    std::thread worker_;
};

// Asks for a vCard file and imports its contacts into new groups; true when groups were made.
bool importAddressBook(const Paths& paths, QWidget* parent);
// The same without the file chooser (tests, and a caller that has the file already).
bool importAddressBookFile(const Paths& paths, const QString& file, QWidget* parent);

}  // namespace qm::ui
