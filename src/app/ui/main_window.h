// Quillmark's main window: menu bar, tool bar, the campaign form (sender, subject, recipients,
// groups, attachments) and the tabs "Message", "Html Preview", "SMTP Settings", "Send Status".
//
// Commands are enabled by the core's rules (app/command_rules.h) for the window's run state;
// commands of features not built yet stay disabled with the tip "Not available yet". The delivery
// settings are loaded when the window opens and saved when it closes.
//
// The window owns the campaign message (message/campaign_message.h), the send log buffer and the
// one CampaignRun of the program. Send Email and Test Campaign take the fields into the message,
// let the core check it and start the run; the run reports through RunForwarder
// (run_forwarder.h), which sets the run state through setSending() and ends the run through
// runFinished()/runStopped()/runAborted(). The close guard reads the run state. At exit the run is
// stopped and waited for, and the delivery reports are deleted.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>

#include "app/command_rules.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/ui/run_forwarder.h"
#include "message/campaign_message.h"

class QAction;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace qm {
class CampaignRun;
class SendLogBuffer;
struct RunSummary;
}  // namespace qm

namespace qm::ui {

class Composer;
class StoppingThreadsDialog;
class PreviewView;
class SendStatusTab;
class SmtpSettingsTab;

class MainWindow : public QMainWindow, public RunHost {
    Q_OBJECT
  public:
    enum Tab { MessageTab = 0, PreviewTab = 1, SettingsTab = 2, StatusTab = 3 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setSending(bool sending) override;
    void setImporting(bool importing);
    const CommandState& commandState() const { return state_; }
    void updateCommands();

    // Send Email (Ctrl+R) and Stop Sending (Ctrl+F).
    void sendEmail();
    void stopSending();
    // The attachment commands; addAttachments() is what the file chooser's answer goes to.
    void addAttachments(const QStringList& paths);
    void removeSelectedAttachment();
    void removeAllAttachments();

    // End of a run, shown on the window's thread (see RunForwarder).
    void runFinished(const RunSummary& summary) override;
    void runAborted(const QString& message) override;
    void runStopped() override;

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
    SendStatusTab* statusTab() const override { return statusTab_; }
    QListWidget* attachmentList() const { return attachments_; }
    const CampaignMessage& message() const { return message_; }
    CampaignRun& run() const { return *run_; }
    // The "Stopping Threads..." window while it is shown, else nullptr.
    StoppingThreadsDialog* stoppingWindow() const { return stopping_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* buildForm();
    void buildMenus();
    QAction* addCommand(QMenu* menu, Command command, const QString& text,
                        const QKeySequence& shortcut, const QString& tip, bool available);
    void newEmail();
    void selectGroups();
    void chooseAttachments();
    void showAttachments();
    void testCampaign();
    void showDeliveryReport();
    // Takes the editor's text (asynchronously) and then starts a run: to the typed recipients and
    // the groups, or to `testAddresses` alone.
    void prepareRun(std::optional<QString> testAddresses);
    void startRun(const QString& html, const std::optional<QString>& testAddresses);
    void focusField(MessageField field);
    void showStopping();
    void closeStopping();
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
    CampaignMessage message_;
    std::unique_ptr<SendLogBuffer> log_;
    RunForwarder* forwarder_ = nullptr;
    std::unique_ptr<CampaignRun> run_;
    StoppingThreadsDialog* stopping_ = nullptr;
    bool preparing_ = false;  // the editor's text is on its way for a run
    bool settingsSaved_ = false;
};

}  // namespace qm::ui
