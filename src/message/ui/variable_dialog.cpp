#include "message/ui/variable_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/text.h"
#include "message/dynamic_variables.h"

namespace qm::ui {

VariableDialog::VariableDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Select Dynamic Variable");
    list_ = new QListWidget;
    for (const auto& v : kDynamicVariables) list_->addItem(toScreen(v.label));
    list_->setCurrentRow(0);
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(ok, 0, Qt::AlignRight);
    resize(260, 320);
}

QString VariableDialog::token() const {
    if (escaped_) return {};
    int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(kDynamicVariables.size())) row = 0;
    return toScreen(kDynamicVariables[static_cast<std::size_t>(row)].token);
}

void VariableDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) escaped_ = true;
    QDialog::keyPressEvent(event);
}

void VariableDialog::closeEvent(QCloseEvent* event) {
    // Closing by the title bar still inserts the first token, as it always has.
    list_->setCurrentRow(0);
    QDialog::closeEvent(event);
}

QString VariableDialog::choose(QWidget* parent) {
    VariableDialog dialog(parent);
    dialog.exec();
    return dialog.token();
}

}  // namespace qm::ui
