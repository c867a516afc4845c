#include "groups/ui/file_choice.h"

#include <QFileDialog>

namespace qm::ui {

FileChoice FileChoice::dialogs() {
    FileChoice c;
    c.save = [](QWidget* parent, const QString& title, const QString& filters,
                QString* selectedFilter) {
        return QFileDialog::getSaveFileName(parent, title, {}, filters, selectedFilter);
    };
    c.open = [](QWidget* parent, const QString& title, const QString& filters) {
        return QFileDialog::getOpenFileName(parent, title, {}, filters);
    };
    return c;
}

}  // namespace qm::ui
