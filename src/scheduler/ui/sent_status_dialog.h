// The "Scheduler Sent Status" screen (Tools menu): every result of every scheduled run from the
// status file, oldest first, read once when it opens.
#pragma once

#include <QDialog>

namespace qm {
class Paths;
}

namespace qm::ui {

class TextGridModel;

class SentStatusDialog : public QDialog {
    Q_OBJECT
  public:
    SentStatusDialog(const Paths& paths, QWidget* parent = nullptr);
    TextGridModel* rows() const { return model_; }

  private:
    TextGridModel* model_;
};

}  // namespace qm::ui
