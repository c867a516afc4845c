#include "message/ui/html_page_dialog.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"

namespace qm::ui {

HtmlPageDialog::HtmlPageDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Create New HTML Page");
    text_ = new QPlainTextEdit;
    text_->setToolTip("Enter your HTML text here");
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* ok = new QPushButton("&OK");
    ok->setToolTip("Click to add to message");
    auto* clear = new QPushButton("C&lear");
    clear->setToolTip("Clear all contents");
    auto* cancel = new QPushButton("&Cancel");
    cancel->setToolTip("Discard contents");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(clear, &QPushButton::clicked, this, &HtmlPageDialog::clearText);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(clear);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);
    resize(600, 420);
}

QString HtmlPageDialog::text() const {
    return text_->toPlainText();
}

void HtmlPageDialog::clearText() {
    if (text_->toPlainText().isEmpty()) {
        inform(this, QStringLiteral("There is no text in the window."));
        return;
    }
    if (ask(this, "Do you really want to clear the text?")) text_->clear();
}

}  // namespace qm::ui
