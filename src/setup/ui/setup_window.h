// Quillsetup's one screen, "Welcome to Quillmark": the delivery mechanism, the relay and its
// account, a connection test, and "Launch Quillmark". The decisions are in setup/first_run.h; this
// screen reads its fields into a SetupChoice, shows what comes back and starts the program.
//
// Entry points: SetupWindow (shown by main() with exec()); testConnection() and launch() are the
// buttons' slots, public for tests.
//
// Failure: the three "Invalid Data" warnings, a failed settings write and a quillmark that cannot
// be found or started are shown through ui::messageBoxes(); the window stays open for all but the
// last (the settings are written by then).
//
// Threads: the connection test runs on a thread of its own and reports back through a queued
// call; the window never blocks on the network. A test still running when the window goes away
// finishes on its own and its result is dropped.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>
#include <memory>

#include "delivery/delivery_settings.h"
#include "setup/first_run.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRadioButton;

namespace qm::ui {

class SetupWindow : public QDialog {
    Q_OBJECT
  public:
    explicit SetupWindow(QWidget* parent = nullptr);

    SetupChoice choice() const;

    // Seams for tests: how a help page is opened and how quillmark is started (true when it
    // started). By default the desktop's browser and a detached process.
    std::function<void(const QUrl&)> openLink;
    std::function<bool(const QString& program)> startProgram;

    // The two help pages: sections of the README this program is shipped with.
    static QUrl helpUrl(const QString& section);
    // "About Quillsetup", built but not shown.
    std::unique_ptr<QMessageBox> aboutBox();

  public slots:
    void testConnection();
    void launch();
    void showAbout();

  signals:
    void connectionTested(bool ok);

  private:
    void updateStates();
    void securityChosen();
    QLabel* linkLabel(const QString& text, const QString& section);
    void focusField(SetupField field);

    QRadioButton* smtp_;
    QRadioButton* mx_;
    QLineEdit* server_;
    QLineEdit* port_;
    QLabel* securityLabel_;
    QComboBox* security_;
    QGroupBox* authBox_;
    QRadioButton* authYes_;
    QRadioButton* authNo_;
    QLabel* userLabel_;
    QLineEdit* user_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    QLabel* loginLabel_;
    QComboBox* login_;
    QLabel* tokenLabel_;
    QLineEdit* tokenCommand_;
    QCheckBox* bulkProfile_;
    QPushButton* test_;
    QLabel* testResult_;
    QPushButton* launch_;
    ConnectionSecurity shownSecurity_ = ConnectionSecurity::None;
    bool testing_ = false;
};

}  // namespace qm::ui
