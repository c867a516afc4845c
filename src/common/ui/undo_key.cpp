#include "common/ui/undo_key.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace qm::ui {

bool UndoKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Backspace ||
        (key->modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier)
        return false;
    if (auto* line = qobject_cast<QLineEdit*>(watched)) {
        if (!line->isReadOnly()) line->undo();
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(watched)) {
        if (!plain->isReadOnly()) plain->undo();
        return true;
    }
    if (auto* rich = qobject_cast<QTextEdit*>(watched)) {
        if (!rich->isReadOnly()) rich->undo();
        return true;
    }
    return false;
}

}  // namespace qm::ui
