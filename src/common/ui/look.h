// The look of quillmark's dialogs: their own background colour, with the texts that sit on it
// (labels, box titles, check and radio buttons) readable when disabled too. main() sets it on the
// application; the screen tests set it as well, so that what they show is what the user sees.
// Threads: the GUI thread.
#pragma once

class QApplication;

namespace qm::ui {

void applyDialogLook(QApplication& app);

}  // namespace qm::ui
