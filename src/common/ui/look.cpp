#include "common/ui/look.h"

#include <QApplication>

namespace qm::ui {

void applyDialogLook(QApplication& app) {
    // The style's own grey for disabled text is about as light as this background, which left a
    // disabled check box as a bare square ("Include sub directories" looked cut off by its box).
    // The darker grey keeps it readable and still unlike enabled text.
    app.setStyleSheet(
        "QDialog { background-color: rgb(188, 199, 213); color: black; }"
        "QDialog QLabel:disabled, QDialog QCheckBox:disabled, QDialog QRadioButton:disabled,"
        " QDialog QGroupBox:disabled { color: rgb(92, 100, 112); }");
}

}  // namespace qm::ui
