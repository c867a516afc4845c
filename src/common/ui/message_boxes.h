// The program's message box (one text and "OK") and question box ("Yes" and "No"). Every screen
// shows its messages through messageBoxes(), so an offscreen test can install its own
// MessageBoxes, read each text and answer each question without a modal loop.
#pragma once

#include <QString>
#include <QStringList>
#include <string_view>

class QWidget;

namespace qm::ui {

enum class Answer { Yes, No, Cancel };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual void inform(QWidget* parent, const QString& text) = 0;
    // True for "Yes".
    virtual bool ask(QWidget* parent, const QString& text) = 0;
    // "Yes", "No" and "Cancel"; the real box unless overridden.
    virtual Answer askYesNoCancel(QWidget* parent, const QString& text);
    // A question with buttons of its own (the first is the default): the index of the one
    // pressed, -1 when the box was closed. The real box unless overridden.
    virtual int askChoice(QWidget* parent, const QString& text, const QStringList& buttons);
    // A warning with its own title (Quillsetup's "Invalid Data"); the real box unless overridden.
    virtual void warn(QWidget* parent, const QString& title, const QString& text);
};

MessageBoxes& messageBoxes();
// Installs `boxes` (not owned); nullptr restores the real boxes.
void setMessageBoxes(MessageBoxes* boxes);

void inform(QWidget* parent, const QString& text);
void inform(QWidget* parent, std::string_view coreText);
bool ask(QWidget* parent, const QString& text);
Answer askYesNoCancel(QWidget* parent, const QString& text);
int askChoice(QWidget* parent, const QString& text, const QStringList& buttons);
void warn(QWidget* parent, const QString& title, const QString& text);

}  // namespace qm::ui
