// Quillmark's main window. The desktop issue fills it; for now it only shows where data lives.
#pragma once

#include <QMainWindow>

namespace qm::ui {

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
};

}  // namespace qm::ui
