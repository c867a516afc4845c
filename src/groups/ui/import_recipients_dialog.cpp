#include "groups/ui/import_recipients_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <fstream>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "groups/csv_table.h"
#include "groups/vcard_import.h"

namespace qm::ui {

namespace {

// Passes the run's reports to the dialog's thread; the dialog outlives the worker.
class Forwarder : public ImportObserver {
  public:
    explicit Forwarder(QLabel* label) : label_(label) {}
    void parsing(const std::string& text) override {
        QString shown = toScreen(text);
        QMetaObject::invokeMethod(
            label_, [label = label_, shown] { label->setText(shown); }, Qt::QueuedConnection);
    }

  private:
    QLabel* label_;
};

}  // namespace

ImportRecipientsDialog::ImportRecipientsDialog(Paths paths, QWidget* parent)
    : QDialog(parent), paths_(std::move(paths)) {
    setWindowTitle("Import Recipients");

    auto* what = new QGroupBox("Import");
    emailsOnly_ = new QRadioButton("Import Emails Only");
    emailsAndName_ = new QRadioButton("Import Emails and Name");
    formatHint_ = new QLabel("Data must be in the format: Name,Email");
    // Its place is kept while hidden, so that choosing "Import Emails and Name" does not change
    // the dialog's width.
    QSizePolicy keep = formatHint_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    formatHint_->setSizePolicy(keep);
    csvColumns_ = new QRadioButton("Columns of a CSV file");
    emailsOnly_->setChecked(true);
    auto* whatLayout = new QVBoxLayout(what);
    whatLayout->addWidget(emailsOnly_);
    whatLayout->addWidget(emailsAndName_);
    whatLayout->addWidget(csvColumns_);
    whatLayout->addWidget(formatHint_);
    emailColumn_ = new QComboBox;
    nameColumn_ = new QComboBox;
    emailColumn_->setAccessibleName("E-mail column");
    nameColumn_->setAccessibleName("Name column");

    auto* from = new QGroupBox("Source");
    fromFile_ = new QRadioButton("Import from a file");
    fromDirectory_ = new QRadioButton("Import from a directory");
    subdirectories_ = new QCheckBox("Include sub directories");
    fromFile_->setChecked(true);
    auto* fromLayout = new QVBoxLayout(from);
    fromLayout->addWidget(fromFile_);
    fromLayout->addWidget(fromDirectory_);
    fromLayout->addWidget(subdirectories_);

    delimiter_ = new QComboBox;
    source_ = new QLineEdit;
    browse_ = new QPushButton("&Browse");
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("String Delimiter:"), 0, 0);
    grid->addWidget(delimiter_, 0, 1);
    grid->addWidget(new QLabel("Source:"), 1, 0);
    grid->addWidget(source_, 1, 1);
    grid->addWidget(browse_, 1, 2);
    grid->addWidget(new QLabel("E-mail column:"), 2, 0);
    grid->addWidget(emailColumn_, 2, 1);
    grid->addWidget(new QLabel("Name column:"), 3, 0);
    grid->addWidget(nameColumn_, 3, 1);

    progress_ = new QLabel;
    progress_->setMinimumWidth(360);
    import_ = new QPushButton("&Import");
    stop_ = new QPushButton("&Stop");
    close_ = new QPushButton("&Close");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(import_);
    buttons->addWidget(stop_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(what);
    top->addWidget(from);
    layout->addLayout(top);
    layout->addLayout(grid);
    layout->addWidget(progress_);
    layout->addLayout(buttons);

    for (QRadioButton* b : {emailsOnly_, emailsAndName_, csvColumns_, fromFile_, fromDirectory_})
        connect(b, &QRadioButton::toggled, this, &ImportRecipientsDialog::updateInputs);
    connect(source_, &QLineEdit::textChanged, this, &ImportRecipientsDialog::updateInputs);
    connect(browse_, &QPushButton::clicked, this, &ImportRecipientsDialog::browse);
    connect(import_, &QPushButton::clicked, this, &ImportRecipientsDialog::startImport);
    connect(stop_, &QPushButton::clicked, this, &ImportRecipientsDialog::stopImport);
    connect(close_, &QPushButton::clicked, this, &ImportRecipientsDialog::reject);
    updateInputs();
}

ImportRecipientsDialog::~ImportRecipientsDialog() {
    running_ = false;
    if (worker_.joinable()) worker_.join();
}

void ImportRecipientsDialog::updateInputs() {
    const bool busy = worker_.joinable();
    const bool names = emailsAndName_->isChecked();
    // With names, records are lines: "Enter" is no field delimiter.
    const QString current = delimiter_->currentText();
    const QStringList choices =
        names ? QStringList{"Comma", "Semicolon"} : QStringList{"Enter", "Comma", "Semicolon"};
    QStringList shown;
    for (int i = 0; i < delimiter_->count(); ++i) shown << delimiter_->itemText(i);
    if (shown != choices) {
        delimiter_->clear();
        delimiter_->addItems(choices);
        if (choices.contains(current)) delimiter_->setCurrentText(current);
    }
    formatHint_->setVisible(names);
    for (QWidget* w : std::initializer_list<QWidget*>{emailsOnly_, emailsAndName_, fromFile_,
                                                      fromDirectory_, source_, browse_, import_})
        w->setEnabled(!busy);
    subdirectories_->setEnabled(!busy && fromDirectory_->isChecked());
    const bool columns = csvColumns_->isChecked();
    delimiter_->setEnabled(!busy && !columns && source_->text().endsWith("txt"));
    csvColumns_->setEnabled(!busy);
    if (columns && fromFile_->isChecked() && columnsOf_ != source_->text()) readColumns();
    const bool chooseColumns = !busy && columns && fromFile_->isChecked();
    emailColumn_->setEnabled(chooseColumns);
    nameColumn_->setEnabled(chooseColumns);
    stop_->setEnabled(busy);
}

void ImportRecipientsDialog::readColumns() {
    columnsOf_ = source_->text();
    emailColumn_->clear();
    nameColumn_->clear();
    emailColumn_->addItem("(from the header names)");
    nameColumn_->addItem("(from the header names)");
    // The header row is the first record: the start of the file is enough (a header with a
    // quoted line break in it still fits).
    std::ifstream in(fromScreen(columnsOf_), std::ios::binary);
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    CsvTable table = readCsvTable(head);
    for (const std::string& name : table.header) {
        emailColumn_->addItem(toScreen(name));
        nameColumn_->addItem(toScreen(name));
    }
    // Show what the guess takes, so the user sees it before the import.
    CsvColumns guessed = guessCsvColumns(table);
    if (guessed.email && !guessed.headerIsRecord)
        emailColumn_->setCurrentIndex(static_cast<int>(*guessed.email) + 1);
    if (auto name = guessed[CsvField::Name])
        nameColumn_->setCurrentIndex(static_cast<int>(*name) + 1);
}

ImportOptions ImportRecipientsDialog::options() const {
    ImportOptions o;
    o.content =
        emailsAndName_->isChecked() ? ImportContent::EmailsAndName : ImportContent::EmailsOnly;
    if (csvColumns_->isChecked()) {
        o.content = ImportContent::CsvColumns;
        // By number: header names may repeat.
        if (emailColumn_->currentIndex() > 0)
            o.emailColumn = std::to_string(emailColumn_->currentIndex());
        if (nameColumn_->currentIndex() > 0)
            o.nameColumn = std::to_string(nameColumn_->currentIndex());
    }
    o.source = fromDirectory_->isChecked() ? ImportSource::Directory : ImportSource::File;
    o.includeSubdirectories = fromDirectory_->isChecked() && subdirectories_->isChecked();
    const QString d = delimiter_->currentText();
    o.delimiter = d == "Comma"       ? ImportDelimiter::Comma
                  : d == "Semicolon" ? ImportDelimiter::Semicolon
                                     : ImportDelimiter::Enter;
    o.path = fromScreen(source_->text());
    return o;
}

void ImportRecipientsDialog::browse() {
    QString chosen =
        fromDirectory_->isChecked()
            ? QFileDialog::getExistingDirectory(this, "Select a directory", source_->text())
            : QFileDialog::getOpenFileName(this, "Select a file containing unsubscribers",
                                           source_->text(),
                                           "Text Files(*.txt);;Excel Files(*.csv)");
    if (!chosen.isEmpty()) source_->setText(chosen);
}

void ImportRecipientsDialog::startImport() {
    if (worker_.joinable()) return;
    ImportOptions o = options();
    if (o.path.empty()) {
        inform(this, kMsgSelectSource);
        return;
    }
    running_ = true;
    progress_->clear();
    worker_ = std::thread([this, o] {
        Forwarder forward(progress_);
        ImportResult result = RecipientImport(paths_, o).run(running_, &forward);
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { finish(std::move(result)); },
            Qt::QueuedConnection);
    });
    updateInputs();
}

void ImportRecipientsDialog::stopImport() {
    if (!worker_.joinable() || !running_) return;
    inform(this, kMsgStopping);
    running_ = false;
}

void ImportRecipientsDialog::finish(ImportResult result) {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    progress_->clear();
    updateInputs();
    if (!result.groups.empty()) emit groupsChanged();
    if (!result.message.empty()) inform(this, result.message);
    emit importFinished();
}

void ImportRecipientsDialog::reject() {
    // Closing stops the run; what it wrote stays and the group list learns of it.
    if (worker_.joinable()) {
        running_ = false;
        worker_.join();
        emit groupsChanged();
    }
    QDialog::reject();
}

bool importAddressBookFile(const Paths& paths, const QString& file, QWidget* parent) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ContactsImportResult r = importContacts(paths, fromScreen(file));
    QApplication::restoreOverrideCursor();
    inform(parent, r.message);
    return !r.groups.empty();
}

bool importAddressBook(const Paths& paths, QWidget* parent) {
    QString file = QFileDialog::getOpenFileName(parent, "Select an address book", QString(),
                                                "vCard Files(*.vcf)");
    if (file.isEmpty()) return false;
    return importAddressBookFile(paths, file, parent);
}

}  // namespace qm::ui
