// One QApplication for every screen test; the web engine needs its shared GL contexts set first.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "ui_support.h"
#ifdef QM_QUILLMARK_LOOK
#include "common/ui/look.h"
#endif

namespace qm::test {

FreshProfile::FreshProfile() {
    qputenv("QUILLMARK_CONFIG", QByteArray::fromStdString(config()));
    qputenv("QUILLMARK_HOME", QByteArray::fromStdString(home()));
}

FreshProfile::~FreshProfile() {
    qunsetenv("QUILLMARK_CONFIG");
    qunsetenv("QUILLMARK_HOME");
}

namespace {

// The window as the X server holds it, when the program runs on one: this shows what the
// platform's own painting does (fonts and metrics of the display, the scale factor), which a
// widget's grab() may not. A null pixmap when the window cannot be read back whole.
QPixmap nativeShot(QWidget* widget) {
    if (QGuiApplication::platformName() != "xcb" || !widget->isWindow()) return {};
    // Not QTest::qWaitForWindowExposed: it reads the window on after the loop may have freed it.
    QPointer<QWidget> alive(widget);
    waitFor(
        [&] { return !alive || (widget->windowHandle() && widget->windowHandle()->isExposed()); },
        5000);
    if (!alive || !widget->windowHandle()->isExposed()) return {};
    QScreen* screen = widget->screen();
    // The server returns only what is on its screen, on top: bring the window there first.
    const QRect area = screen->geometry();
    QRect frame = widget->frameGeometry();
    if (frame.width() > area.width() || frame.height() > area.height()) return {};
    if (!area.contains(frame)) {
        frame.moveTopLeft(
            {std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1),
             std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1)});
        widget->move(frame.topLeft());
    }
    widget->raise();
    QApplication::processEvents();
    if (!alive) return {};
    // Painted and handed to the server before the read, which the server answers in order.
    widget->repaint();
    return screen->grabWindow(widget->winId());
}

}  // namespace

void screenshot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("QUILLMARK_SCREENSHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    if (!widget->isVisible()) widget->show();
    QApplication::processEvents();
    QPixmap shot = widget->grab();
    // Waiting for the X server runs the event loop, where a window may close and go (the
    // "Stopping Threads" one when the run ends): then the grab above is the picture.
    QPointer<QWidget> alive(widget);
    QPixmap native = nativeShot(widget);
    if (alive && !native.isNull()) shot = native;
    if (!shot.save(dir + "/" + name + ".png"))
        ADD_FAILURE() << "cannot save " << (dir + "/" + name).toStdString();
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace qm::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
#ifdef QM_QUILLMARK_LOOK
    qm::ui::applyDialogLook(app);  // the screens as quillmark shows them
#endif
    return RUN_ALL_TESTS();
}
