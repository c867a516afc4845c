// "Test Campaign": up to five addresses for a trial run. The address rules and the start of the
// run are the send engine's; the screen takes them as a function so it checks nothing itself.
// Without that function "Send" is disabled.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace qm::ui {

class TestCampaignDialog : public QDialog {
    Q_OBJECT
  public:
    // Returns the message to show for refused text, or an empty text to accept it.
    using AddressCheck = std::function<std::string(const std::string&)>;

    explicit TestCampaignDialog(AddressCheck check, QWidget* parent = nullptr);
    QString addresses() const;
    QPlainTextEdit* field() const { return field_; }
    QPushButton* sendButton() const { return send_; }

  private:
    AddressCheck check_;
    QPlainTextEdit* field_;
    QPushButton* send_;
};

}  // namespace qm::ui
