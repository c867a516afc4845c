// "Unsubscribe Email address": the return address for unsubscribe requests and its scope. Add
// checks the address with the one address rule; Remove clears it (no link any more); Cancel keeps
// what was there.
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

  private:
    void add();
    QLineEdit* address_;
    QRadioButton* single_;
    QRadioButton* all_;
};

}  // namespace qm::ui
