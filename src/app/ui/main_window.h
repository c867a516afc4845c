// Quillmark's main window: menu bar, tool bar, the campaign form (sender, subject, recipients,
// groups, attachments) and the tabs "Message", "Html Preview", "SMTP Settings", "Send Status".
//
// Commands are enabled by the core's rules (app/command_rules.h) for the window's run state;
// commands of features not built yet stay disabled with the tip "Not available yet". The delivery
// settings are loaded when the window opens and saved when it closes. The run state is set by the
// send engine's forwarder (run_forwarder.h) through setSending(); the close guard reads it.
#pragma once

#include <QMainWindow>
#include <map>

#include "app/command_rules.h"
#include "app/paths.h"
#include "app/settings.h"

class QAction;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace qm::ui {

class Composer;
class PreviewView;
class SendStatusTab;
class SmtpSettingsTab;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    enum Tab { MessageTab = 0, PreviewTab = 1, SettingsTab = 2, StatusTab = 3 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setSending(bool sending);
    void setImporting(bool importing);
    const CommandState& commandState() const { return state_; }
    void updateCommands();

    // End of a run, shown on the window's thread (see RunForwarder).
    void runFinished(int failedPercent);
    void runAborted(const QString& message);
    void runStopped();

    QAction* action(Command command) const;
    QAction* insertVariableAction() const { return insertVariable_; }
    QLineEdit* senderName() const { return senderName_; }
    QLineEdit* senderAddress() const { return senderAddress_; }
    QLineEdit* subject() const { return subject_; }
    QPlainTextEdit* recipients() const { return recipients_; }
    QLineEdit* groupsField() const { return groups_; }
    QTabWidget* tabs() const { return tabs_; }
    Composer* composer() const { return composer_; }
    SmtpSettingsTab* settingsTab() const { return settingsTab_; }
    SendStatusTab* statusTab() const { return statusTab_; }
    const QString& unsubscribeAddress() const { return unsubscribeAddress_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* buildForm();
    void buildMenus();
    QAction* addCommand(QMenu* menu, Command command, const QString& text,
                        const QKeySequence& shortcut, const QString& tip, bool available);
    void newEmail();
    void selectGroups();
    void insertWebpage();
    void createHtmlPage();
    void removeWebPage();
    void addUnsubscribeLink();
    void toggleAutoUnsubscribe(bool on);
    void nextPane();

    SettingsStore store_;
    Paths paths_;
    CommandState state_;
    std::map<Command, QAction*> actions_;
    std::map<Command, bool> available_;
    QAction* insertVariable_ = nullptr;
    QAction* autoUnsubscribe_ = nullptr;
    QAction* showReminder_ = nullptr;
    QAction* removeAll_ = nullptr;
    QLineEdit* senderName_ = nullptr;
    QLineEdit* senderAddress_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPlainTextEdit* recipients_ = nullptr;
    QLineEdit* groups_ = nullptr;
    QPushButton* selectGroup_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QPushButton* attach_ = nullptr;
    QPushButton* detach_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    PreviewView* preview_ = nullptr;
    Composer* composer_ = nullptr;
    SmtpSettingsTab* settingsTab_ = nullptr;
    SendStatusTab* statusTab_ = nullptr;
    QString unsubscribeAddress_;
    bool unsubscribeSingleGroup_ = true;
    bool settingsSaved_ = false;
};

}  // namespace qm::ui
