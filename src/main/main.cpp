// Quillmark, the desktop program. Start-up runs in a fixed order: command line, program name,
// folders, the running-copy marker, the dialog colours, the tutorial reminder, then the main
// window, shown maximised and painted at once.
#include <QApplication>
#include <QCommandLineParser>

#include "app/paths.h"
#include "app/settings.h"
#include "app/ui/main_window.h"
#include "app/ui/reminder_dialog.h"

int main(int argc, char** argv) {
    // The HTML editor and preview share GL contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    QApplication::setOrganizationName("Quillmark");

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("file", "A file to open (accepted and ignored).", "[file]");
    parser.process(app);

    qm::SettingsStore store = qm::SettingsStore::open();
    qm::Paths paths = qm::Paths::current(store);
    paths.ensureFolders();
    // Marks this running copy; a second copy still starts.
    qm::RunningCopyMarker marker(paths);

    app.setStyleSheet("QDialog { background-color: rgb(188, 199, 213); color: black; }");
    qm::ui::showReminderIfWanted(store);

    qm::ui::MainWindow window;
    window.showMaximized();
    window.repaint();
    return app.exec();
}
