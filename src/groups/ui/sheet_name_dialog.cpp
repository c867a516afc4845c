#include "groups/ui/sheet_name_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "groups/address_extraction.h"

namespace qm::ui {

SheetNameDialog::SheetNameDialog(const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Enter Sheet Name");
    name_ = new QComboBox;
    name_->setEditable(true);
    name_->setInsertPolicy(QComboBox::NoInsert);
    name_->setMinimumWidth(220);
    for (const auto& n : names) name_->addItem(toScreen(n));
    name_->setEditText(toScreen(defaultSheet(names)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* form = new QFormLayout(this);
    form->addRow("Sheet Name:", name_);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SheetNameDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SheetNameDialog::reject);
}

void SheetNameDialog::accept() {
    if (auto message = checkSheetName(fromScreen(name_->currentText()), chosen_)) {
        inform(this, *message);
        name_->setFocus();
        return;
    }
    QDialog::accept();
}

std::optional<std::string> askSheetName(const std::vector<std::string>& names, QWidget* parent) {
    SheetNameDialog dialog(names, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.name();
}

}  // namespace qm::ui
