#include "app/ui/main_window.h"

#include <QLabel>

#include "app/paths.h"
#include "app/settings.h"
#include "app/ui/text.h"

namespace qm::ui {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle("Quillmark");
    Paths paths = Paths::current(SettingsStore::open());
    auto* label = new QLabel(QString("Program folder: %1\nData root: %2")
                                 .arg(toScreen(paths.programFolder()), toScreen(paths.dataRoot())),
                             this);
    label->setAlignment(Qt::AlignCenter);
    setCentralWidget(label);
    resize(800, 580);
}

}  // namespace qm::ui
