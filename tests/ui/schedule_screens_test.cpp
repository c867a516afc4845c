// The scheduler's screens: the launch fields of the "SMTP Settings" tab, Send with "Start At"
// storing the campaign, the "Scheduled Mails" grid with its Delete menu, the 5-second timer sending
// a due entry to smtp-sink, and the "Scheduler Sent Status" screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/main_window.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/send_log_buffer.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "message/ui/composer.h"
#include "message/ui/html_editor.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"
#include "scheduler/schedule_store.h"
#include "scheduler/scheduler_status.h"
#include "scheduler/ui/schedule_grid.h"
#include "scheduler/ui/scheduler_timer.h"
#include "scheduler/ui/sent_status_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

TEST(ScheduleScreens, LaunchFieldsFollowStartAtAndTheRepetitionPlaceholder) {
    ui::SmtpSettingsTab tab;
    tab.resize(760, 420);
    EXPECT_FALSE(tab.dateField()->isEnabled());
    EXPECT_FALSE(tab.repetitionField()->isEnabled());
    ASSERT_TRUE(tab.startAtButton()->isEnabled());
    tab.startAtButton()->click();
    EXPECT_TRUE(tab.dateField()->isEnabled());
    EXPECT_TRUE(tab.timeField()->isEnabled());
    EXPECT_TRUE(tab.repetitionField()->isEnabled());
    EXPECT_FALSE(tab.settings().startNow);
    // From today to the same day a month on.
    EXPECT_EQ(tab.dateField()->minimumDate(), QDate::currentDate());
    EXPECT_EQ(tab.dateField()->maximumDate(), QDate::currentDate().addMonths(1));

    QComboBox* rep = tab.repetitionField();
    EXPECT_EQ(rep->currentText(), "Repetition");
    EXPECT_EQ(tab.repetitionChoice(), 0);  // the placeholder counts as "None"
    tab.show();
    rep->showPopup();
    EXPECT_EQ(rep->count(), 4) << "an open list holds the four choices alone";
    EXPECT_EQ(rep->itemText(0), "None");
    rep->hidePopup();
    ASSERT_TRUE(test::waitFor([&] { return rep->count() == 5; }));
    EXPECT_EQ(rep->currentText(), "Repetition");
    // A choice made in the open list stays.
    rep->showPopup();
    rep->setCurrentIndex(2);
    emit rep->activated(2);
    rep->hidePopup();
    QTest::qWait(20);
    EXPECT_EQ(rep->count(), 4);
    EXPECT_EQ(rep->currentText(), "Weekly");
    EXPECT_EQ(tab.repetitionChoice(), 2);
    test::screenshot(&tab, "smtp-settings-start-at");
}

struct Window {
    test::FreshProfile profile;
    test::RecordedBoxes boxes;
    DesktopCore core;
    ui::MainWindow window{core};
    Paths paths = Paths::current(SettingsStore::open());

    Window() {
        window.show();
        window.form()->senderName()->setText("Ann Example");
        window.form()->senderAddress()->setText("ann@example.com");
        window.form()->subject()->setText("Spring offers");
        EXPECT_TRUE(test::waitFor([this] { return window.composer()->editor()->isReady(); }));
        QSignalSpy loaded(window.composer()->editor(), &ui::HtmlEditor::loaded);
        window.composer()->setDocumentText("<p>Hello [**EMAIL**]</p>");
        EXPECT_TRUE(loaded.wait(60000));
    }
    void startAt(const QDateTime& when, int repetitionRow) {
        auto* tab = window.settingsTab();
        tab->startAtButton()->click();
        tab->dateField()->setDate(when.date());
        tab->timeField()->setTime(when.time());
        tab->repetitionField()->setCurrentIndex(repetitionRow);
    }
    // Send, then the box it ends with.
    QString send() {
        const auto before = boxes.shown.size();
        window.action(Command::SendEmail)->trigger();
        EXPECT_TRUE(test::waitFor([&] { return boxes.shown.size() > before; }));
        return boxes.shown.isEmpty() ? QString() : boxes.shown.last();
    }
    ui::TextGridModel* grid() { return window.scheduleGrid()->rows(); }
};

TEST(ScheduleScreens, SendWithStartAtStoresTheCampaignUpToFifteen) {
    Window w;
    w.window.form()->recipients()->setPlainText("bob@example.com; carol@example.com");
    w.startAt(QDateTime::currentDateTime().addSecs(-120), 3);
    EXPECT_EQ(w.send(), "Please enter a valid time to start sending of mails.");
    EXPECT_EQ(w.window.tabs()->currentIndex(), ui::MainWindow::SettingsTab);
    EXPECT_TRUE(w.window.settingsTab()->timeField()->hasFocus());
    EXPECT_EQ(w.grid()->rowCount(), 0);

    const QDateTime when = QDateTime::currentDateTime().addSecs(3600);
    w.startAt(when, 2);  // "Daily", below the placeholder and "None"
    EXPECT_EQ(w.send(), "Message Saved.");
    EXPECT_FALSE(w.window.commandState().sending) << "a stored run does not start";
    ASSERT_EQ(w.grid()->rowCount(), 1);
    EXPECT_EQ(w.grid()->text(0, 0), when.toString("dd/MM/yyyy::HH:mm:ss"));
    EXPECT_EQ(w.grid()->text(0, 1), "Spring offers");
    EXPECT_EQ(w.grid()->text(0, 3), "Daily");
    EXPECT_EQ(w.grid()->text(0, 4), when.addDays(1).toString("dd/MM/yyyy::HH:mm:ss"));
    ScheduleList list;
    list.load(w.paths.schedulerFile());
    ASSERT_EQ(list.count(), 1u);
    OutboxRun stored;
    ASSERT_TRUE(readOutbox(list.at(0).outboxPath, stored));
    EXPECT_EQ(stored.recipients, "carol@example.com;bob@example.com");  // the typed list's order
    EXPECT_NE(stored.body.find("Hello [**EMAIL**]"), std::string::npos) << stored.body;

    for (int i = 2; i <= 15; ++i) {
        w.window.form()->subject()->setText(QString("Offer %1").arg(i));
        w.startAt(when.addSecs(60 * i), 3);
        ASSERT_EQ(w.send(), "Message Saved.") << i;
    }
    EXPECT_EQ(w.grid()->rowCount(), 15);
    const auto outboxFiles = listFiles(w.paths.outbox(), ".ml").size();
    w.window.form()->subject()->setText("One too many");
    EXPECT_EQ(w.send(), "Only 15 Mails can be saved.");
    EXPECT_EQ(w.grid()->rowCount(), 15);
    EXPECT_EQ(listFiles(w.paths.outbox(), ".ml").size(), outboxFiles);

    // A message whose outbox file went missing says so, and Delete takes it away with its line.
    removeFile(list.at(0).outboxPath);
    w.window.refreshSchedule();
    EXPECT_EQ(w.grid()->text(0, 1), "(message missing) Spring offers");
    w.window.tabs()->setCurrentIndex(ui::MainWindow::SettingsTab);
    test::screenshot(&w.window, "smtp-settings-scheduled-mails");
    EXPECT_EQ(w.window.scheduleGrid()->menuFor(15), nullptr);
    QMenu* menu = w.window.scheduleGrid()->menuFor(1);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->title(), "Scheduler");
    const std::string secondOutbox = w.window.scheduleGrid()->entries()[1].outboxPath;
    menu->actions().at(0)->trigger();
    EXPECT_EQ(w.grid()->rowCount(), 14);
    EXPECT_FALSE(fileExists(secondOutbox));
    EXPECT_EQ(w.grid()->text(1, 1), "Offer 3");

    // Another runner ended an entry after the grid was built: Delete says so and shows the list
    // as it is now, rather than doing nothing in silence.
    QMenu* stale = w.window.scheduleGrid()->menuFor(0);
    ASSERT_TRUE(stale);
    ASSERT_EQ(deleteScheduled(w.paths, w.window.scheduleGrid()->entries()[0]),
              ScheduleDeleteStatus::Deleted);
    EXPECT_EQ(w.grid()->rowCount(), 14) << "not rebuilt yet";
    stale->actions().at(0)->trigger();
    EXPECT_EQ(w.boxes.shown.last(),
              QString::fromUtf8(kMsgScheduleChanged.data(),
                                static_cast<int>(kMsgScheduleChanged.size())));
    EXPECT_EQ(w.grid()->rowCount(), 13);
}

// "Start At" with an attachment: stored with its own copy; refused with the file's name when the
// file cannot be copied, and then nothing is stored.
TEST(ScheduleScreens, StartAtStoresCopiesOrRefusesNamingTheFile) {
    Window w;
    test::TempDir files;
    files.write("offer.pdf", "%PDF first");
    w.window.form()->recipients()->setPlainText("bob@example.com");
    w.window.addAttachments({QString::fromStdString(files.file("offer.pdf"))});
    ASSERT_EQ(w.window.message().attachments.size(), 1u);
    w.startAt(QDateTime::currentDateTime().addSecs(3600), 1);

    removeFile(files.file("offer.pdf"));
    const QString refused = w.send();
    EXPECT_TRUE(refused.startsWith(
        QString::fromUtf8(kMsgAttachmentNotCopied.data(), kMsgAttachmentNotCopied.size()) +
        QString::fromStdString(files.file("offer.pdf"))))
        << refused.toStdString();
    EXPECT_EQ(w.grid()->rowCount(), 0);
    EXPECT_TRUE(listFiles(w.paths.outbox(), ".ml").empty());

    files.write("offer.pdf", "%PDF first");
    EXPECT_EQ(w.send(), "Message Saved.");
    files.write("offer.pdf", "%PDF edited later");
    ScheduleList list;
    list.load(w.paths.schedulerFile());
    ASSERT_EQ(list.count(), 1u);
    OutboxRun stored;
    ASSERT_TRUE(readOutbox(list.at(0).outboxPath, stored));
    ASSERT_EQ(stored.attachments.size(), 1u);
    std::string copy;
    ASSERT_TRUE(readFile(stored.attachments[0], copy));
    EXPECT_EQ(copy, "%PDF first");
}

TEST(ScheduleScreens, TimerSendsTheDueEntryAndTheStatusScreenShowsIt) {
    Window w;
    w.window.form()->recipients()->setPlainText("timer@example.com");
    const QDateTime when = QDateTime::currentDateTime().addSecs(3600);
    w.startAt(when, 1);  // "None"
    ASSERT_EQ(w.send(), "Message Saved.");
    auto* tab = w.window.settingsTab();
    tab->smtpModeButton()->click();
    tab->serverField()->clear();

    // The timer's clock moved past the entry: without a server the check speaks at every tick.
    const std::time_t later = when.toSecsSinceEpoch() + 10;
    w.window.schedulerTimer()->setClock([later] { return later; });
    const auto before = w.boxes.shown.size();
    w.window.schedulerTimer()->tick();
    EXPECT_EQ(w.boxes.shown.size(), before + 1);
    EXPECT_EQ(w.boxes.shown.last(), "Please enter a mail server to send mails.");
    EXPECT_FALSE(w.window.schedulerTimer()->running());

    const char* port = std::getenv("QM_SINK_PORT");
    ASSERT_TRUE(port) << "run through tests/peers/with_peers.sh (ctest does)";
    tab->serverField()->setText("127.0.0.1");
    tab->portField()->setText(port);
    w.window.schedulerTimer()->tick();
    EXPECT_TRUE(w.window.schedulerTimer()->running());
    w.window.schedulerTimer()->tick();  // a tick during the run does nothing
    // The run's end reaches the window through its event loop, so it is still sending here.
    w.window.close();
    EXPECT_TRUE(w.window.isVisible()) << "closing while a scheduled run sends is refused";
    EXPECT_EQ(w.boxes.shown.last(),
              "Sorry, you cannot close the application while sending emails.");
    ASSERT_TRUE(test::waitFor([&] { return !w.window.schedulerTimer()->running(); }));
    EXPECT_EQ(w.grid()->rowCount(), 0) << "a None entry is gone after its run";

    ui::SentStatusDialog dialog(w.paths);
    ASSERT_EQ(dialog.rows()->rowCount(), 1);
    EXPECT_EQ(dialog.rows()->text(0, 0), "Thread#1");
    EXPECT_EQ(dialog.rows()->text(0, 1), "Sent");
    EXPECT_EQ(dialog.rows()->text(0, 2), "timer@example.com");
    EXPECT_EQ(dialog.rows()->text(0, 3), "Spring offers");
    EXPECT_EQ(dialog.rows()->text(0, 4), when.toString("dd:MM:yyyy:HH:mm:ss"));
    EXPECT_EQ(dialog.windowTitle(), "Scheduler Sent Status");
    dialog.show();
    test::screenshot(&dialog, "dialog-scheduler-sent-status");
    EXPECT_TRUE(w.window.action(Command::SchedulerStatus)->isEnabled());
}

TEST(ScheduleScreens, ATickDuringTheSettingsMessageDoesNotAskAgain) {
    // The settings check's message box runs an event loop, in which the timer fires again.
    test::TempDir dir;
    Paths paths(dir.path());
    ASSERT_TRUE(paths.ensureFolders());
    ScheduleList list;
    ScheduleEntry due;
    due.subject = "Due";
    due.dueAt = 1000;
    due.outboxPath = "error";
    list.add(due, false);
    ASSERT_TRUE(list.save(paths.schedulerFile()));
    SendLogBuffer log;
    int asked = 0;
    ui::SchedulerTimer* timer = nullptr;
    ui::SchedulerTimer scheduler(paths, log, [&]() -> std::optional<DueRunOptions> {
        ++asked;
        timer->tick();
        return std::nullopt;
    });
    timer = &scheduler;
    scheduler.tick();
    EXPECT_EQ(asked, 1);
    scheduler.tick();
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace qm
