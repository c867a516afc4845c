// The "Sender Authentication" group of the SMTP Settings tab: DKIM domain, selector, private key
// file and algorithm, and the warnings of the sender-domain check (shown when MX mode is chosen).
// It only shows a DkimSettings record; loading, saving and the key checks are the core's
// (delivery/dkim_settings.h), and the domain check runs in the core off the window thread.
#pragma once

#include <QGroupBox>

#include "delivery/dkim_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace qm::ui {

class SenderAuthBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit SenderAuthBox(QWidget* parent = nullptr);

    void load(const DkimSettings& settings);
    DkimSettings settings() const;

    // Runs the SPF/DMARC/DKIM check of the sender's domain on a worker thread and shows its
    // warnings below the fields; an empty domain clears them.
    void checkSenderDomain(const std::string& domain);

    QLineEdit* domainField() const { return domain_; }
    QLabel* warningsLabel() const { return warnings_; }

  signals:
    void domainChecked(QString text);

  private:
    QLineEdit* domain_;
    QLineEdit* selector_;
    QLineEdit* keyFile_;
    QComboBox* algorithm_;
    QLabel* warnings_;
    int checkSerial_ = 0;
};

}  // namespace qm::ui
