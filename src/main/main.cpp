// Quillmark, the desktop program.
#include <QApplication>

#include "app/paths.h"
#include "app/settings.h"
#include "app/ui/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    qm::Paths paths = qm::Paths::current(qm::SettingsStore::open());
    paths.ensureFolders();
    // Marks this running copy; a second copy still starts.
    qm::RunningCopyMarker marker(paths);
    qm::ui::MainWindow window;
    window.showMaximized();
    return app.exec();
}
