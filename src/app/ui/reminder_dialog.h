// "Quillmark Reminder": the start-up pointer to the online tutorial. Its check box is the setting
// "Show Reminder For Quick Tour", written back when the dialog closes.
#pragma once

#include <QDialog>

class QCheckBox;

namespace qm {
class SettingsStore;
}

namespace qm::ui {

inline constexpr const char* kTutorialUrl = "https://quillmark.example.org/tour";
inline constexpr const char* kHomePageUrl = "https://quillmark.example.org/";
inline constexpr const char* kSupportUrl = "https://quillmark.example.org/support";

class ReminderDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ReminderDialog(SettingsStore& store, QWidget* parent = nullptr);
    QCheckBox* showAgainBox() const { return showAgain_; }

    void done(int result) override;

  private:
    SettingsStore& store_;
    QCheckBox* showAgain_;
};

// Step of start-up: shows the reminder when the setting is on (or absent).
void showReminderIfWanted(SettingsStore& store);

}  // namespace qm::ui
