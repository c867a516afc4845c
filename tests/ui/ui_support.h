// Shared pieces of the screen tests: a message-box recorder that answers questions from a script,
// a fresh program folder and settings file per test, and the optional screenshots.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

#include "common/ui/message_boxes.h"
#include "support/temp_dir.h"

class QWidget;

namespace qm::test {

class RecordedBoxes : public ui::MessageBoxes {
  public:
    RecordedBoxes() { ui::setMessageBoxes(this); }
    ~RecordedBoxes() override { ui::setMessageBoxes(nullptr); }
    void inform(QWidget*, const QString& text) override { shown.append(text); }
    bool ask(QWidget*, const QString& text) override {
        asked.append(text);
        bool yes = answers.empty() ? false : answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
    // Three-way questions are recorded with the others; unanswered ones are cancelled.
    ui::Answer askYesNoCancel(QWidget*, const QString& text) override {
        asked.append(text);
        ui::Answer a = choices.empty() ? ui::Answer::Cancel : choices.front();
        if (!choices.empty()) choices.pop_front();
        return a;
    }
    // Questions with buttons of their own: recorded with the others, answered by button index
    // from `picks` (closed, -1, when none is left).
    int askChoice(QWidget*, const QString& text, const QStringList&) override {
        asked.append(text);
        int pick = picks.empty() ? -1 : picks.front();
        if (!picks.empty()) picks.pop_front();
        return pick;
    }
    // Warnings go to `shown` too, their titles to `titles`.
    void warn(QWidget*, const QString& title, const QString& text) override {
        titles.append(title);
        shown.append(text);
    }
    QStringList shown;
    QStringList titles;
    QStringList asked;
    std::deque<bool> answers;
    std::deque<ui::Answer> choices;
    std::deque<int> picks;
};

// Points QUILLMARK_HOME and QUILLMARK_CONFIG into a fresh folder for the life of the object.
class FreshProfile {
  public:
    FreshProfile();
    ~FreshProfile();
    TempDir dir;
    std::string config() const { return dir.file("settings.ini"); }
    std::string home() const { return dir.file("home"); }
};

// Saves a PNG of `widget` as NAME.png in $QUILLMARK_SCREENSHOTS when that names a folder.
void screenshot(QWidget* widget, const QString& name);
// Runs the event loop until `done` or the time-out; false on time-out. The time-out only ends a
// wait that would never succeed: it is long enough for a busy machine.
bool waitFor(const std::function<bool()>& done, int ms = 60000);

}  // namespace qm::test
