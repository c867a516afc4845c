// Quillmark, the desktop program.
//
// Entry points: main(). Start-up runs in a fixed order: command line, program name, folders (a
// group-list open killed half way is settled first), the running-copy marker, the dialog colours,
// the tutorial reminder, the core objects (app/desktop_core.h), then the main window, shown
// maximised and painted at once. QUILLMARK_BENCH_EXIT_AFTER_PAINT=1 makes the program print "first
// paint: N ms" (N counted from main()) when the main window is first painted, then close the window
// as File > Exit does; the start-up benchmark (bench/startup.cpp) and a smoke test use it.
//
// Failure: without a home folder for the settings and the program folder, start-up shows the
// reason in the program's message box and ends with exit code 1 before any file is touched.
//
// Threads: the window's thread only; the core's threads are started by the screens.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/desktop_core.h"
#include "app/ui/main_window.h"
#include "app/ui/reminder_dialog.h"
#include "common/ui/message_boxes.h"
#include "config/paths.h"
#include "config/settings.h"
#include "groups/group_folder.h"

namespace {

class ExitAfterFirstPaint : public QObject {
  public:
    ExitAfterFirstPaint(QWidget* window, const QElapsedTimer& clock)
        : QObject(window), window_(window), clock_(clock) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            std::printf("first paint: %lld ms\n", static_cast<long long>(clock_.elapsed()));
            std::fflush(stdout);
            QTimer::singleShot(0, window_, &QWidget::close);
        }
        return false;
    }

  private:
    QWidget* window_;
    const QElapsedTimer& clock_;
    bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    // The HTML editor and preview share GL contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmark");
    QApplication::setOrganizationName("Quillmark");

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("file", "A file to open (accepted and ignored).", "[file]");
    parser.process(app);

    if (std::string error; !qm::locateUserFolders(&error)) {
        qm::ui::inform(nullptr, std::string_view(error));
        return 1;
    }
    qm::SettingsStore store = qm::SettingsStore::open();
    qm::Paths paths = qm::Paths::current(store);
    qm::settleGroupFolder(paths);  // a group-list open killed half way: before the folders exist
    paths.ensureFolders();
    // Marks this running copy; a second copy still starts.
    qm::RunningCopyMarker marker(paths);

    app.setStyleSheet("QDialog { background-color: rgb(188, 199, 213); color: black; }");
    qm::ui::showReminderIfWanted(store);

    // The objects that are not screens live as long as the program; the window only uses them.
    qm::DesktopCore core(store, paths);
    qm::ui::MainWindow window(core);
    if (qEnvironmentVariableIsSet("QUILLMARK_BENCH_EXIT_AFTER_PAINT"))
        window.installEventFilter(new ExitAfterFirstPaint(&window, clock));
    window.showMaximized();
    window.repaint();
    return app.exec();
}
