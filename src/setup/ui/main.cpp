// Quillsetup, the first-run program that asks for the delivery settings. Its screens come later;
// for now it opens an empty window so the build and installation carry it.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label("Quillsetup");
    label.setWindowTitle("Quillsetup");
    label.resize(480, 320);
    label.show();
    return app.exec();
}
