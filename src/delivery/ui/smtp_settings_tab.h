// The "SMTP Settings" tab: delivery mode, relay, connection security, thread and wait counts, the
// sending pace ("At most N messages per minute/hour"), the plain-text part of HTML mail and the
// launch fields. It only shows a DeliverySettings record; loading, saving, the range check, the
// port rule and the enabling rules are the core's (app/delivery_settings.h).
//
// Launch fields: "Start At" enables the date (from the moment the tab opened to one month later),
// the time and the repetition list. The list shows the placeholder "Repetition" until it is
// opened; opening it leaves the four choices alone, and closing it without a choice brings the
// placeholder back. The placeholder counts as "None". The "Scheduled Mails" grid belongs to the
// scheduler, one layer up: the window puts it in with setScheduleView(). "Help for Settings"
// emits helpRequested(); the window knows where the help is.
#pragma once

#include <QWidget>
#include <cstdint>

#include "delivery/delivery_settings.h"
#include "delivery/sender_profile.h"
#include "message/campaign_message.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;

namespace qm::ui {
class SenderAuthBox;
}

namespace qm::ui {

class SmtpSettingsTab : public QWidget {
    Q_OBJECT
  public:
    explicit SmtpSettingsTab(QWidget* parent = nullptr);

    void load(const DeliverySettings& settings);
    // The fields as they stand now; the send engine reads this at every Send.
    DeliverySettings settings() const;

    QLineEdit* serverField() const { return server_; }
    QLineEdit* portField() const { return port_; }
    QSpinBox* threadsField() const { return threads_; }
    QSpinBox* waitField() const { return wait_; }
    QSpinBox* perConnectionField() const { return perConnection_; }
    QSpinBox* rateCountField() const { return rateCount_; }
    QComboBox* rateUnitField() const { return rateUnit_; }
    QRadioButton* mxModeButton() const { return mx_; }
    QRadioButton* smtpModeButton() const { return smtp_; }
    QRadioButton* authRequiredButton() const { return authYes_; }
    QComboBox* securityField() const { return security_; }
    QComboBox* loginField() const { return login_; }
    QLineEdit* tokenCommandField() const { return tokenCommand_; }
    QRadioButton* startAtButton() const { return startAt_; }
    QDateEdit* dateField() const { return date_; }
    QTimeEdit* timeField() const { return time_; }
    QComboBox* repetitionField() const { return repetition_; }
    QComboBox* mxOrderField() const { return mxOrder_; }
    QComboBox* textPartField() const { return textPart_; }
    QPushButton* helpButton() const { return help_; }
    QCheckBox* profileField() const { return profile_; }
    QCheckBox* listIdField() const { return listId_; }
    QCheckBox* footerMarkupField() const { return footerLower_; }
    QLabel* profileNote() const { return profileNote_; }
    QPushButton* checkDomainButton() const { return checkDomain_; }

    // "Plain-text part" of HTML mail; stored apart from the delivery settings (mail_shape.h).
    TextPartStyle textPart() const;
    void setTextPart(TextPartStyle style);

    // "Follow current bulk-sender rules" and the two options only it shows (List-Id, footer
    // markup); the text part and the MX order are shown above. Switching the profile moves the
    // fields it decides (delivery/sender_profile.h); the note names those it set.
    void loadProfile(const ProfileState& state, bool listId, FooterMarkup markup);
    ProfileState profileState() const { return profileState_; }
    ProfileOptions profileOptions() const;

    // The start moment of "Start At" (date and time fields, local time, seconds since 1970).
    std::int64_t launchMoment() const;
    // 0 "None" (and the placeholder), 1 "Daily", 2 "Weekly", 3 "Monthly".
    int repetitionChoice() const;
    // The "Sender Authentication" group (DKIM settings, domain-check warnings).
    SenderAuthBox* senderAuth() const { return senderAuth_; }
    // "Relay Login" and "Sender Authentication" share one place on the tab.
    QTabWidget* accountTabs() const { return accounts_; }
    // Puts the "Scheduled Mails" grid below the other fields.
    void setScheduleView(QWidget* view);

  signals:
    void helpRequested();
    // "Check Sender Domain", offered while the profile is on.
    void checkDomainRequested();

  private:
    void updateEnabled();
    void checkCountsNow();
    void securityChanged();
    void profileToggled(bool on);
    void showProfileOptions(const ProfileOptions& options);
    void updateProfileNote();

    QRadioButton* mx_;
    QRadioButton* smtp_;
    QLineEdit* server_;
    QLineEdit* port_;
    QComboBox* security_;
    QCheckBox* verify_;
    QRadioButton* authYes_;
    QRadioButton* authNo_;
    QLineEdit* user_;
    QLineEdit* password_;
    QComboBox* login_;
    QLineEdit* tokenCommand_;
    QSpinBox* threads_;
    QSpinBox* wait_;
    QSpinBox* perConnection_;
    QSpinBox* rateCount_;
    QComboBox* rateUnit_;
    QRadioButton* startNow_;
    QRadioButton* startAt_;
    QDateEdit* date_;
    QTimeEdit* time_;
    QComboBox* repetition_;
    QComboBox* mxOrder_;
    QComboBox* textPart_;
    QPushButton* help_;
    QCheckBox* profile_;
    QCheckBox* listId_;
    QCheckBox* footerLower_;
    QLabel* profileNote_;
    QPushButton* checkDomain_;
    ProfileState profileState_;
    QTabWidget* accounts_;
    QWidget* serverBox_;
    QWidget* authBox_;
    QGridLayout* grid_;
    SenderAuthBox* senderAuth_;
    ConnectionSecurity shownSecurity_ = ConnectionSecurity::None;
    bool checking_ = false;
};

}  // namespace qm::ui
