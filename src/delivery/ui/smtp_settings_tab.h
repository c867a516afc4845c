// The "SMTP Settings" tab: delivery mode, relay, connection security, thread and wait counts and
// the launch fields. It only shows a DeliverySettings record; loading, saving, the range check,
// the port rule and the enabling rules are the core's (app/delivery_settings.h).
#pragma once

#include <QWidget>

#include "delivery/delivery_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

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
    QRadioButton* mxModeButton() const { return mx_; }
    QRadioButton* smtpModeButton() const { return smtp_; }
    QRadioButton* authRequiredButton() const { return authYes_; }
    QComboBox* securityField() const { return security_; }

  private:
    void updateEnabled();
    void checkCountsNow();
    void securityChanged();

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
    QSpinBox* threads_;
    QSpinBox* wait_;
    QRadioButton* startNow_;
    QRadioButton* startAt_;
    QDateEdit* date_;
    QTimeEdit* time_;
    QComboBox* repetition_;
    QWidget* serverBox_;
    QWidget* authBox_;
    ConnectionSecurity shownSecurity_ = ConnectionSecurity::None;
    bool checking_ = false;
};

}  // namespace qm::ui
