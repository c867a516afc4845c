// Quillmark's main window: the menu bar and tool bar (one table of commands), the campaign form
// (campaign_form.h) and the tabs "Message", "Html Preview", "SMTP Settings", "Send Status".
//
// Entry points: MainWindow(core) with the program's core objects (app/desktop_core.h), which
// main() makes and which outlive the window; the command handlers below; RunHost, through which
// the run reports (RunForwarder, delivery/ui/run_forwarder.h).
//
// Commands are enabled by the core's rules (app/command_rules.h) for the window's run state;
// commands of features not built yet stay disabled with the tip "Not available yet". While a run
// is sent, the form, the message editor and the "SMTP Settings" tab take no input. The delivery
// settings are loaded when the window opens and saved when it closes.
//
// The window holds the campaign message (message/campaign_message.h). Send Email and Test
// Campaign hand the fields to the core's run request (delivery/run_request.h) and start the core's
// run; the run sets the run state through setSending() and ends through runFinished(),
// runStopped() or runAborted(). The close guard reads the run state. When the window goes, the run
// is stopped and waited for, and the delivery reports are deleted.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <map>
#include <optional>
#include <span>

#include "app/command_rules.h"
#include "delivery/ui/run_forwarder.h"
#include "message/campaign_message.h"
#include "message/mail_shape.h"

class QAction;
class QListWidget;
class QTabWidget;

namespace qm {
class CampaignRun;
struct DesktopCore;
struct RunRequest;
struct RunSummary;
struct ScheduleEntry;
}  // namespace qm

namespace qm::ui {

class AddressExtractionRunner;
class CampaignForm;
class Composer;
class StoppingThreadsDialog;
class PreviewView;
class ScheduleGrid;
class SchedulerTimer;
class SendStatusTab;
class SmtpSettingsTab;

class MainWindow : public QMainWindow, public RunHost {
    Q_OBJECT
  public:
    enum Tab { MessageTab = 0, PreviewTab = 1, SettingsTab = 2, StatusTab = 3 };

    explicit MainWindow(DesktopCore& core, QWidget* parent = nullptr);
    ~MainWindow() override;

    void setSending(bool sending) override;
    void setImporting(bool importing);
    const CommandState& commandState() const { return state_; }
    void updateCommands();

    // Send Email (Ctrl+R) and Stop Sending (Ctrl+F).
    void sendEmail();
    void stopSending();
    // Import Email Address (Ctrl+I): addresses from a text file or a sheet into the recipients
    // box, on a worker thread; Stop Importing ends it. importFrom() is the run after the file
    // chooser (and the sheet name dialog, unless `sheet` is given).
    void importEmailAddresses();
    void importFrom(const QString& path, std::optional<std::string> sheet = std::nullopt);
    void stopImporting();
    // The attachment commands; addAttachments() is what the file chooser's answer goes to.
    void addAttachments(const QStringList& paths);
    void removeSelectedAttachment();
    void removeAllAttachments();
    // "Insert Webpage..." after the file chooser; the template wizard's page takes this way in.
    void insertWebpageFile(const QString& path);

    // End of a run, shown on the window's thread (see RunForwarder).
    void runFinished(const RunSummary& summary) override;
    void runAborted(const QString& message) override;
    void runStopped() override;

    QAction* action(Command command) const;
    QAction* insertVariableAction() const { return action(Command::InsertVariable); }
    CampaignForm* form() const { return form_; }
    QTabWidget* tabs() const { return tabs_; }
    Composer* composer() const { return composer_; }
    SmtpSettingsTab* settingsTab() const { return settingsTab_; }
    SendStatusTab* statusTab() const override { return statusTab_; }
    const CampaignMessage& message() const { return message_; }
    // The "Scheduled Mails" grid and the 5-second scheduler timer (scheduler/ui).
    ScheduleGrid* scheduleGrid() const { return scheduleGrid_; }
    SchedulerTimer* schedulerTimer() const { return scheduler_; }
    // Reads the schedule file again and rebuilds the grid.
    void refreshSchedule();
    // Tools > Scheduler Sent Status.
    void showSchedulerStatus();
    CampaignRun& run() const;
    // At the program's start: an interrupted run's question, "Yes" resumes it, "No" forgets it,
    // "Show" tells its counts and asks again.
    void offerResume();
    // The "Stopping Threads..." window while it is shown, else nullptr.
    StoppingThreadsDialog* stoppingWindow() const { return stopping_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct CommandRow;  // one entry of the command table (main_window.cpp)
    static std::span<const CommandRow> commandTable();
    void buildCommands();

    // Command handlers, as the table names them.
    void newEmail();
    void exitProgram();
    void chooseAttachments();
    void testCampaign();
    void showDeliveryReport();
    void groupManagement();
    void insertWebpage();
    void launchTemplateWizard();
    void createHtmlPage();
    void removeWebPage();
    void addUnsubscribeLink();
    void toggleAutoUnsubscribe();
    // Stores the switch after the question that turning it off asks; returns the stored state.
    bool setAutoUnsubscribe(bool on, QWidget* parent);
    void offerSubscriptionCommands();  // to the group windows opened while this window lives
    void getUnsubscribers();
    void getSubscribers();
    void filterUnsubscribers();
    void saveUnsubscribed();
    void toggleReminder();
    void openHelp();
    void openTutorial();
    void openHomePage();
    void showAbout();
    void insertVariable();
    void nextPane();
    void spamCheck();
    void importEml();

    void showAttachments();
    // Takes the editor's text (asynchronously) and then starts a run: to the typed recipients and
    // the groups, or to `testAddresses` alone.
    void prepareRun(std::optional<QString> testAddresses);
    void startRun(const QString& html, const std::optional<QString>& testAddresses);
    void focusField(MessageField field);
    // Send with "Start At": the outbox file and the schedule entry, then "Message Saved.".
    void storeForLater(const RunRequest& request);
    void deleteScheduled(const ScheduleEntry& entry);
    // The form and the editors into the message (the HTML as the editor gave it).
    void takeScreens(const QString& html);
    // The text-part choice of the SMTP Settings tab and the stored unsubscribe URL.
    MailShape mailShape() const;
    // Spam Check once the editor's text is there: the check, the busy window, the answer.
    void checkForSpam(const QString& html);
    void showStopping();
    void closeStopping();

    DesktopCore& core_;
    CommandState state_;
    std::map<Command, QAction*> actions_;
    CampaignForm* form_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    PreviewView* preview_ = nullptr;
    Composer* composer_ = nullptr;
    SmtpSettingsTab* settingsTab_ = nullptr;
    SendStatusTab* statusTab_ = nullptr;
    CampaignMessage message_;
    RunForwarder* forwarder_ = nullptr;
    StoppingThreadsDialog* stopping_ = nullptr;
    AddressExtractionRunner* extraction_ = nullptr;
    ScheduleGrid* scheduleGrid_ = nullptr;
    SchedulerTimer* scheduler_ = nullptr;
    bool preparing_ = false;  // the editor's text is on its way for a run
    bool settingsSaved_ = false;
    QString testAddresses_;  // the last addresses the "Test Campaign" screen accepted
    QObject* undoKey_ = nullptr;
};

}  // namespace qm::ui
