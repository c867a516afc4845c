#include "groups/ui/export_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"

namespace qm::ui {

namespace {

constexpr const char* kTextFilter = "Text Files(*.txt)";
constexpr const char* kCsvFilter = "Excel Files(*.csv)";

constexpr const char* kHelp =
    "Export writes the recipients of the loaded group to a file, in the order of the group.\n\n"
    "Emails: the addresses, each followed by the separator.\n"
    "Emails And Name: one line per recipient, the name and the address.\n"
    "All Fields: one line per recipient with all thirteen fields.\n\n"
    "A .csv file starts with a header line and always uses commas.";

struct SeparatorChoice {
    ExportSeparator value;
    const char* label;
};
constexpr SeparatorChoice kSeparators[] = {
    {ExportSeparator::Enter, "Enter"},
    {ExportSeparator::Comma, "Comma"},
    {ExportSeparator::Semicolon, "Semicolon"},
    {ExportSeparator::Tab, "Tab"},
    {ExportSeparator::Tilde, "~"},
    {ExportSeparator::Bar, "|"},
    {ExportSeparator::Caret, "^"},
};

}  // namespace

ExportDialog::ExportDialog(const std::vector<Recipient>& rows, FileChoice files, QWidget* parent)
    : QDialog(parent), rows_(rows), files_(std::move(files)) {
    setWindowTitle("Export Recipients");
    mode_ = new QComboBox;
    mode_->addItem("Emails", static_cast<int>(ExportMode::Emails));
    mode_->addItem("Emails And Name", static_cast<int>(ExportMode::EmailsAndName));
    mode_->addItem("All Fields", static_cast<int>(ExportMode::AllFields));
    separator_ = new QComboBox;
    output_ = new QLineEdit;
    auto* browse = new QPushButton("&Browse");
    auto* help = new QLabel("<a href=\"help\">(?)</a>");
    connect(help, &QLabel::linkActivated, this, [this] { inform(this, QString(kHelp)); });
    export_ = new QPushButton("&Export");
    export_->setDefault(true);
    auto* close = new QPushButton("&Close");
    connect(mode_, &QComboBox::currentIndexChanged, this, &ExportDialog::fillSeparators);
    connect(output_, &QLineEdit::textChanged, this, &ExportDialog::outputChanged);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(export_, &QPushButton::clicked, this, &ExportDialog::runExport);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fillSeparators();

    auto* form = new QGridLayout;
    form->addWidget(new QLabel("Export:"), 0, 0);
    form->addWidget(mode_, 0, 1);
    form->addWidget(help, 0, 2, Qt::AlignRight);
    form->addWidget(new QLabel("Separator:"), 1, 0);
    form->addWidget(separator_, 1, 1);
    form->addWidget(new QLabel("Output File:"), 2, 0);
    form->addWidget(output_, 2, 1);
    form->addWidget(browse, 2, 2);
    form->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(export_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(440, sizeHint().height());
}

void ExportDialog::fillSeparators() {
    const bool emails = mode_->currentData().toInt() == static_cast<int>(ExportMode::Emails);
    const QVariant kept = separator_->currentData();
    separator_->clear();
    for (const auto& s : kSeparators)
        if (emails || s.value != ExportSeparator::Enter)
            separator_->addItem(s.label, static_cast<int>(s.value));
    int again = kept.isValid() ? separator_->findData(kept) : -1;
    separator_->setCurrentIndex(again >= 0 ? again : 0);
    outputChanged();
}

void ExportDialog::outputChanged() {
    const bool csv = output_->text().endsWith("csv");
    if (csv) separator_->setCurrentIndex(0);
    separator_->setEnabled(!csv);
}

void ExportDialog::browse() {
    QString filter;
    QString chosen = files_.save(this, "Please enter a filename to save",
                                 QString(kTextFilter) + ";;" + kCsvFilter, &filter);
    if (chosen.isEmpty()) return;
    output_->setText(toScreen(exportFileName(fromScreen(chosen), filter == kCsvFilter)));
}

void ExportDialog::runExport() {
    StoreResult r = exportToFile(rows_, fromScreen(output_->text()),
                                 static_cast<ExportMode>(mode_->currentData().toInt()),
                                 static_cast<ExportSeparator>(separator_->currentData().toInt()));
    inform(this, r.message);
    if (!r.ok()) output_->setFocus();
}

}  // namespace qm::ui
