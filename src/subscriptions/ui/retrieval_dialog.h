// "Retrieve Unsubscribe Users" (and, in subscribe mode, "Retrieve Subscribe Users"): the mailbox
// account with its port and connection security, the output file, Remember, AutoUnsubscribe
// (unsubscribe mode), the groups (subscribe mode), the harvested list and the commands Retrieve,
// Stop, Test Connection, Change Password and Close. The run itself is the core's RetrievalRun on
// a worker thread; its calls reach this screen through queued calls.
//
// Entry points: RetrievalDialog(store, paths, mode, parent); autoUnsubscribe() for the main
// window's check mark when the screen closes. Closing while a run goes on stops it and waits.
// Test Connection runs on a thread of its own, as a retrieval does: the screen stays live through
// a server's time-outs, and Stop or closing the screen ends the test.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/paths.h"
#include "subscriptions/mailbox_settings.h"
#include "subscriptions/pop3_client.h"
#include "subscriptions/retrieval.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace qm {
class SettingsStore;
}

namespace qm::ui {

class RetrievalDialog : public QDialog {
    Q_OBJECT
  public:
    RetrievalDialog(SettingsStore& store, Paths paths, RetrievalMode mode,
                    QWidget* parent = nullptr);
    ~RetrievalDialog() override;

    bool autoUnsubscribe() const;
    bool running() const { return run_ != nullptr; }
    // A Test Connection is under way (it runs off the screen thread; Stop ends it).
    bool testing() const { return testClient_ != nullptr; }

    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QLineEdit* serverField() const { return server_; }
    QSpinBox* portField() const { return port_; }
    QComboBox* securityField() const { return security_; }
    QLineEdit* outputField() const { return output_; }
    QLineEdit* groupsField() const { return groups_; }
    QCheckBox* rememberBox() const { return remember_; }
    QCheckBox* autoUnsubscribeBox() const { return autoUnsubscribe_; }
    QListWidget* list() const { return list_; }
    QLabel* statusLine() const { return status_; }
    QPushButton* retrieveButton() const { return retrieve_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* testButton() const { return test_; }

    // Retrieve as the button does; false when a check refused.
    bool startRetrieval();
    // Waits for a run in progress to end (tests).
    void waitForRun();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    MailboxSettings typedSettings() const;
    void rememberToggled(bool on);
    void autoUnsubscribeToggled(bool on);
    void testConnection();
    void testEnded(bool ok, bool stopped, const std::string& error);
    void changePassword();
    void browse();
    void chooseGroups();
    void setRunning(bool running);
    void runEnded(RetrievalResult result);
    void stopRun();

    SettingsStore& store_;
    Paths paths_;
    RetrievalMode mode_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* server_;
    QSpinBox* port_;
    QComboBox* security_;
    QCheckBox* verify_;
    QLineEdit* output_;
    QLineEdit* groups_;
    QPushButton* addGroups_;
    QCheckBox* remember_;
    QCheckBox* autoUnsubscribe_;
    QListWidget* list_;
    QLabel* status_;
    QPushButton* retrieve_;
    QPushButton* stop_;
    QPushButton* test_;
    QPushButton* change_;
    QPushButton* close_;

    std::vector<std::string> harvested_;  // kept across runs of one opening
    std::unique_ptr<RetrievalRun> run_;
    std::thread worker_;
    // Test Connection: the client the test thread talks through, so Stop and closing can
    // interrupt its waits.
    std::shared_ptr<Pop3Client> testClient_;
    std::thread tester_;
};

}  // namespace qm::ui
