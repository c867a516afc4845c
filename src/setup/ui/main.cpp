// Quillsetup, the first-run program: one screen that stores the delivery settings and starts
// Quillmark. Closing the screen without "Launch Quillmark" writes nothing and starts nothing.
#include <QApplication>

#include "setup/ui/setup_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillsetup");
    qm::ui::SetupWindow window;
    window.exec();
    return 0;
}
