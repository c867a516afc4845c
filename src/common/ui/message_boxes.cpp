#include "common/ui/message_boxes.h"

#include <QMessageBox>
#include <QPushButton>

#include "common/ui/text.h"

namespace qm::ui {

Answer MessageBoxes::askYesNoCancel(QWidget* parent, const QString& text) {
    switch (QMessageBox::question(parent, "Quillmark", text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return Answer::Cancel;
    }
}

int MessageBoxes::askChoice(QWidget* parent, const QString& text, const QStringList& buttons) {
    QMessageBox box(QMessageBox::Question, "Quillmark", text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> made;
    for (const QString& label : buttons)
        made.append(
            box.addButton(label, made.isEmpty() ? QMessageBox::YesRole : QMessageBox::ActionRole));
    if (!made.isEmpty()) box.setDefaultButton(qobject_cast<QPushButton*>(made.front()));
    box.exec();
    return static_cast<int>(made.indexOf(box.clickedButton()));
}

void MessageBoxes::warn(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
}

namespace {

class RealBoxes : public MessageBoxes {
  public:
    void inform(QWidget* parent, const QString& text) override {
        QMessageBox::information(parent, "Quillmark", text);
    }
    bool ask(QWidget* parent, const QString& text) override {
        return QMessageBox::question(parent, "Quillmark", text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
};

RealBoxes realBoxes;
MessageBoxes* installed = nullptr;

}  // namespace

MessageBoxes& messageBoxes() {
    return installed ? *installed : realBoxes;
}

void setMessageBoxes(MessageBoxes* boxes) {
    installed = boxes;
}

void inform(QWidget* parent, const QString& text) {
    messageBoxes().inform(parent, text);
}

void inform(QWidget* parent, std::string_view coreText) {
    messageBoxes().inform(parent, toScreen(coreText));
}

bool ask(QWidget* parent, const QString& text) {
    return messageBoxes().ask(parent, text);
}

Answer askYesNoCancel(QWidget* parent, const QString& text) {
    return messageBoxes().askYesNoCancel(parent, text);
}

int askChoice(QWidget* parent, const QString& text, const QStringList& buttons) {
    return messageBoxes().askChoice(parent, text, buttons);
}

void warn(QWidget* parent, const QString& title, const QString& text) {
    messageBoxes().warn(parent, title, text);
}

}  // namespace qm::ui
