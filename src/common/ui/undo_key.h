// Alt+Backspace undoes the last edit of the focused text field (line, plain-text and rich-text
// boxes), as users of other desktops expect; Linux styles bind nothing to it. The main window
// installs one on the application, so its dialogs' fields have it too.
// Threads: the GUI thread.
#pragma once

#include <QObject>

namespace qm::ui {

class UndoKey : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qm::ui
