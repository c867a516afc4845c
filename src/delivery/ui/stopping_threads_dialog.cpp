#include "delivery/ui/stopping_threads_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace qm::ui {

StoppingThreadsDialog::StoppingThreadsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Stopping Threads...");
    setWindowModality(Qt::WindowModal);
    // Closing it by hand would not end the threads any sooner.
    setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint);
    bar_ = new QProgressBar;
    // How long each thread still needs is not known, so the bar is busy until the wait ends.
    bar_->setRange(0, 0);
    bar_->setTextVisible(false);
    bar_->setMinimumWidth(280);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Waiting for the sending threads to end..."));
    layout->addWidget(bar_);
}

void StoppingThreadsDialog::done() {
    bar_->setRange(0, 1);
    bar_->setValue(1);
}

}  // namespace qm::ui
