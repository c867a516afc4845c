// Quillmark, the desktop program.
//
// Entry points: main(). Start-up runs in a fixed order: command line, program name, folders (a
// group-list open killed half way is settled first), the running-copy marker, the dialog colours,
// the tutorial reminder, the core objects (app/desktop_core.h), then the main window, shown
// maximised and painted at once. QUILLMARK_BENCH_EXIT_AFTER_PAINT=1 makes the program print "first
// paint: N ms" (N counted from main()) when the main window is first painted, then close the window
// as File > Exit does; the start-up benchmark (bench/startup.cpp) and a smoke test use it.
//
// Root: Chromium inside QtWebEngine refuses to start its sandbox for root and takes the whole
// program down with it, so as root main() turns the sandbox off (QTWEBENGINE_DISABLE_SANDBOX=1, the
// engine's documented switch) before the engine starts, and says so on stderr in one line.
//
// Failure: without a home folder for the settings and the program folder, start-up shows the
// reason in the program's message box and ends with exit code 1 before any file is touched. A web
// engine whose page process ends before any page has loaded (it could not start) is named in the
// message box and the program ends with exit code 3, instead of leaving a window without editor.
//
// Threads: the window's thread only; the core's threads are started by the screens.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <string>
#include <string_view>

#include <unistd.h>

#include "app/desktop_core.h"
#include "app/ui/main_window.h"
#include "app/ui/reminder_dialog.h"
#include "common/ui/look.h"
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

constexpr int kExitWebEngineFailed = 3;

// Until the first page of any web view has loaded, the end of a page process means the engine
// could not start: the editor and the preview would stay blank for good.
class WebEngineStartWatch : public QObject {
  public:
    explicit WebEngineStartWatch(QWidget* window) : QObject(window), window_(window) {
        for (QWebEngineView* view : window->findChildren<QWebEngineView*>()) {
            connect(view, &QWebEngineView::loadFinished, this, [this](bool ok) {
                if (ok) started_ = true;
            });
            connect(view, &QWebEngineView::renderProcessTerminated, this,
                    [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                        failed(status, code);
                    });
        }
    }

  private:
    void failed(QWebEnginePage::RenderProcessTerminationStatus status, int code) {
        if (started_ || failed_) return;
        failed_ = true;
        const char* how = status == QWebEnginePage::CrashedTerminationStatus  ? "crashed"
                          : status == QWebEnginePage::KilledTerminationStatus ? "was killed"
                                                                              : "ended";
        const QString text = QString(
                                 "The web engine (QtWebEngine) could not start: its page "
                                 "process %1 (exit code %2). Quillmark cannot show its "
                                 "editor and will close.")
                                 .arg(how)
                                 .arg(code);
        std::fprintf(stderr, "quillmark: %s\n", text.toLocal8Bit().constData());
        qm::ui::inform(window_, text);
        QCoreApplication::exit(kExitWebEngineFailed);
    }

    QWidget* window_;
    bool started_ = false;
    bool failed_ = false;
};

// Root cannot run the engine's sandbox; the switch must be set before QtWebEngine reads it.
void allowWebEngineAsRoot() {
    if (::geteuid() != 0) return;
    if (qgetenv("QTWEBENGINE_DISABLE_SANDBOX") != "1") qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::fputs(
        "quillmark: running as root, so the web engine's sandbox is turned off "
        "(QTWEBENGINE_DISABLE_SANDBOX=1)\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    allowWebEngineAsRoot();
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

    qm::ui::applyDialogLook(app);
    qm::ui::showReminderIfWanted(store);

    // The objects that are not screens live as long as the program; the window only uses them.
    qm::DesktopCore core(store, paths);
    qm::ui::MainWindow window(core);
    new WebEngineStartWatch(&window);
    if (qEnvironmentVariableIsSet("QUILLMARK_BENCH_EXIT_AFTER_PAINT"))
        window.installEventFilter(new ExitAfterFirstPaint(&window, clock));
    window.showMaximized();
    window.repaint();
    // Asked once the window is up, so the question has a window to sit on.
    QTimer::singleShot(0, &window, [&window] { window.offerResume(); });
    return app.exec();
}
