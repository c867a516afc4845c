#include "groups/ui/name_entry_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"

namespace qm::ui {

NameEntryDialog::NameEntryDialog(const QString& title, const QString& label, const QString& text,
                                 Apply apply, QWidget* parent)
    : QDialog(parent), apply_(std::move(apply)) {
    setWindowTitle(title);
    field_ = new QLineEdit(text);
    field_->selectAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("&OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("&Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &NameEntryDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(label));
    layout->addWidget(field_);
    layout->addWidget(buttons);
    resize(320, sizeHint().height());
}

void NameEntryDialog::submit() {
    StoreResult r = apply_(field_->text());
    if (!r.ok()) {
        inform(this, r.message);
        field_->setFocus();
        return;
    }
    accept();
}

}  // namespace qm::ui
