// "Unsubscribe Email address": the return address for unsubscribe requests and its scope, and the
// optional one-click unsubscribe URL. Add checks the address with the one address rule and the
// URL as list_unsubscribe.h does; Remove clears the address (no link any more, no unsubscribe
// header fields either); Cancel keeps what was there.
// The URL lives here rather than on the SMTP Settings tab because it is the second route of the
// same request: it only goes out beside the return address, in the List-Unsubscribe field that
// mirrors this dialog's link. Unlike the address it is a stored setting, kept across messages.
#pragma once

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace qm::ui {

class UnsubscribeDialog : public QDialog {
    Q_OBJECT
  public:
    UnsubscribeDialog(const QString& address, bool singleGroup, QWidget* parent = nullptr);

    QString address() const;
    bool singleGroup() const;
    QLineEdit* addressField() const { return address_; }
    QLineEdit* urlField() const { return url_; }
    void setUrl(const QString& url);
    QString url() const;

  private:
    void add();
    QLineEdit* address_;
    QLineEdit* url_;
    QRadioButton* single_;
    QRadioButton* all_;
};

}  // namespace qm::ui
