// The file dialogs of the group window, replaceable so that offscreen tests choose files without a
// modal dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm::ui {

struct FileChoice {
    // Empty when cancelled. `selectedFilter` (may be null) gets the filter the user chose.
    std::function<QString(QWidget* parent, const QString& title, const QString& filters,
                          QString* selectedFilter)>
        save;
    std::function<QString(QWidget* parent, const QString& title, const QString& filters)> open;

    // The real file dialogs.
    static FileChoice dialogs();
};

}  // namespace qm::ui
