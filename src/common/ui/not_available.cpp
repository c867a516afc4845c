#include "common/ui/not_available.h"

#include <QAction>
#include <QWidget>

namespace qm::ui {

void markNotAvailable(QAction* action) {
    action->setEnabled(false);
    action->setToolTip(kNotAvailableTip);
    action->setStatusTip(kNotAvailableTip);
    action->setProperty("qmNotAvailable", true);
}

void markNotAvailable(QWidget* widget) {
    widget->setEnabled(false);
    widget->setToolTip(kNotAvailableTip);
    widget->setProperty("qmNotAvailable", true);
}

}  // namespace qm::ui
