// One QApplication for every screen test; the web engine needs its shared GL contexts set first.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWidget>

#include "ui_support.h"

namespace qm::test {

FreshProfile::FreshProfile() {
    qputenv("QUILLMARK_CONFIG", QByteArray::fromStdString(config()));
    qputenv("QUILLMARK_HOME", QByteArray::fromStdString(home()));
}

FreshProfile::~FreshProfile() {
    qunsetenv("QUILLMARK_CONFIG");
    qunsetenv("QUILLMARK_HOME");
}

void screenshot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("QUILLMARK_SCREENSHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    if (!widget->isVisible()) widget->show();
    QApplication::processEvents();
    if (!widget->grab().save(dir + "/" + name + ".png"))
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
    return RUN_ALL_TESTS();
}
