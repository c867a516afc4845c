// The main window as a whole: settings kept across windows, the close guard, Ctrl+M, the status
// grid, and screenshots of every tab.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/main_window.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/fake_dns.h"
#include "delivery/ui/send_status_tab.h"
#include "delivery/ui/sender_auth_box.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "delivery/ui/status_model.h"
#include "message/ui/composer.h"
#include "message/ui/html_editor.h"
#include "message/ui/variable_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

// Saves a screenshot of the next modal dialog of type D as soon as it shows, then closes it.
template <class D>
void shootNextModal(const QString& name) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, name] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            test::screenshot(d, name);
            d->reject();
        }
    });
    timer->start();
}

// Answers the next "Select Dynamic Variable" dialog with the entry at `row`.
void chooseVariableSoon(int row) {
    QTimer::singleShot(0, [row] {
        auto* dialog = qobject_cast<ui::VariableDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->list()->setCurrentRow(row);
        dialog->accept();
    });
}

TEST(MainWindow, DeliverySettingsAreSavedAtCloseAndLoadedAtOpen) {
    test::FreshProfile profile;
    {
        DesktopCore core;
        ui::MainWindow window(core);
        window.show();
        auto* tab = window.settingsTab();
        EXPECT_TRUE(tab->settings().mxMode) << "no stored server means MX mode";
        tab->smtpModeButton()->click();
        tab->serverField()->setText("relay.example.com");
        tab->securityField()->setCurrentIndex(1);
        tab->authRequiredButton()->click();
        ASSERT_TRUE(window.close());
    }
    SettingsStore store = SettingsStore::open();
    EXPECT_EQ(store.read(keys::kSmtpServer), "relay.example.com");
    EXPECT_EQ(store.read(keys::kSmtpPort), "587");
    EXPECT_EQ(store.read(keys::kSmtpSecurity), "starttls");
    EXPECT_EQ(store.read(keys::kSmtpAuth), "y");
    DesktopCore againCore;
    ui::MainWindow again(againCore);
    DeliverySettings s = again.settingsTab()->settings();
    EXPECT_FALSE(s.mxMode);
    EXPECT_EQ(s.server, "relay.example.com");
    EXPECT_EQ(s.port, 587u);
    EXPECT_TRUE(s.authenticate);
}

TEST(MainWindow, SenderDomainIsCheckedAgainWhenTheSenderChanges) {
    test::FreshProfile profile;
    test::FakeDns dns(test::answering(3));  // NXDOMAIN: no SPF, no DMARC, whatever the domain
    profile.dir.write("resolv.conf", "nameserver " + dns.server() + "\n");
    ::setenv("QUILLMARK_RESOLV_CONF", profile.dir.file("resolv.conf").c_str(), 1);
    {
        DesktopCore core;
        ui::MainWindow window(core);
        window.show();
        QLabel* warnings = window.settingsTab()->senderAuth()->warningsLabel();
        QLineEdit* sender = window.form()->senderAddress();
        sender->setText("ann@one.test");
        window.settingsTab()->smtpModeButton()->click();
        window.settingsTab()->mxModeButton()->click();
        EXPECT_TRUE(test::waitFor([&] { return warnings->text().contains("one.test"); }));
        sender->setFocus();
        sender->selectAll();
        QTest::keyClicks(sender, "bob@two.test");
        QTest::keyClick(sender, Qt::Key_Return);
        EXPECT_TRUE(test::waitFor([&] { return warnings->text().contains("two.test"); }));
        EXPECT_FALSE(warnings->text().contains("one.test"));
    }
    ::unsetenv("QUILLMARK_RESOLV_CONF");
}

TEST(MainWindow, CloseGuardKeepsTheWindowOpenWhileWorking) {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    window.setSending(true);
    EXPECT_FALSE(window.close());
    window.setImporting(true);
    EXPECT_FALSE(window.close());
    EXPECT_EQ(boxes.shown,
              (QStringList{"Sorry, you cannot close the application while sending emails.",
                           "Sorry, you cannot close the application while importing email "
                           "addresses."}));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.form()->senderName()->isEnabled()) << "editing is locked while sending";
    EXPECT_FALSE(window.action(Command::NewEmail)->isEnabled());
    window.setImporting(false);
    window.setSending(false);
    EXPECT_TRUE(window.action(Command::NewEmail)->isEnabled());
    EXPECT_TRUE(window.close());
}

TEST(MainWindow, EveryMenuCommandIsAvailable) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    for (Command c : {Command::TemplateWizard, Command::GetUnsubscribers, Command::GetSubscribers,
                      Command::FilterUnsubscribers, Command::SaveUnsubscribed})
        EXPECT_TRUE(window.action(c)->isEnabled()) << window.action(c)->text().toStdString();
    EXPECT_NE(window.action(Command::TemplateWizard)->toolTip(), "Not available yet");
    EXPECT_EQ(window.action(Command::NewEmail)->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(window.insertVariableAction()->shortcut(), QKeySequence("Ctrl+M"));
    EXPECT_EQ(window.tabs()->count(), 4);
    EXPECT_EQ(window.tabs()->tabText(1), "Html Preview");
}

TEST(MainWindow, OpensAt800x580WithEveryTabFitting) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    EXPECT_EQ(window.width(), 800);
    EXPECT_EQ(window.height(), 580);
    const QSize least = window.minimumSizeHint();
    EXPECT_LE(least.width(), 800);
    EXPECT_LE(least.height(), 580);
}

TEST(MainWindow, CtrlMInsertsTheChosenTokenAtTheCaret) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    QApplication::setActiveWindow(&window);
    auto* composer = window.composer();
    composer->plainButton()->click();
    QPlainTextEdit* plain = composer->plainEdit();
    plain->setPlainText("HelloWorld");
    QTextCursor cursor = plain->textCursor();
    cursor.setPosition(5);
    plain->setTextCursor(cursor);
    plain->setFocus();

    // With the check box off, Ctrl+M does nothing.
    QTest::keyClick(plain, Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(plain->toPlainText(), "HelloWorld");

    composer->variablesBox()->setChecked(true);
    plain->setFocus();
    chooseVariableSoon(2);
    QTest::keyClick(plain, Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(plain->toPlainText(), "Hello[**COMPANY**]World");
    EXPECT_EQ(plain->textCursor().position(), 18);
}

TEST(MainWindow, HtmlEditorTakesTokensAndGivesBackItsSource) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    auto* editor = window.composer()->editor();
    ASSERT_TRUE(test::waitFor([&] { return editor->isReady(); }));
    window.composer()->variablesBox()->setChecked(true);
    chooseVariableSoon(0);
    window.insertVariableAction()->trigger();
    QString html;
    ASSERT_TRUE(test::waitFor([&] {
        editor->html([&](const QString& text) { html = text; });
        QApplication::processEvents();
        return html.contains("[**USER**]");
    }));
    EXPECT_TRUE(html.contains("<body>", Qt::CaseInsensitive)) << html.toStdString();
}

// The engine answers pending requests while the window is torn down (the preview's profile shuts
// down first when the message tab is on top); those answers must not reach the composer or the
// caller, whose state is going or gone.
TEST(MainWindow, EditorRequestsPendingAtCloseAreDropped) {
    test::FreshProfile profile;
    auto answers = std::make_shared<int>(0);
    {
        DesktopCore core;
        ui::MainWindow window(core);
        window.show();
        auto* composer = window.composer();
        ASSERT_TRUE(test::waitFor([&] { return composer->editor()->isReady(); }));
        window.tabs()->setCurrentIndex(ui::MainWindow::PreviewTab);
        window.tabs()->setCurrentIndex(ui::MainWindow::MessageTab);
        for (int i = 0; i < 5; ++i) composer->html([answers](const QString&) { ++*answers; });
        composer->refreshPreview();
    }
    EXPECT_EQ(*answers, 0);
    QTest::qWait(200);
    EXPECT_EQ(*answers, 0) << "no answer arrives after the window is gone";
}

TEST(MainWindow, StatusGridTakesResultsInBatches) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    auto* status = window.statusTab();
    window.setSending(true);
    EXPECT_EQ(window.tabs()->currentIndex(), ui::MainWindow::StatusTab);
    EXPECT_FALSE(status->viewLogButton()->isEnabled());
    status->setCurrentGroup("<General>");
    status->setProgressRange(100000);
    for (int i = 0; i < 100000; ++i) {
        status->addResult("Thread# 1", i % 10 != 0, "<General>",
                          QString("user%1@example.com").arg(i));
        status->stepProgress();
    }
    EXPECT_EQ(status->model()->rowCount(), 0) << "rows wait for the next batch";
    EXPECT_EQ(status->model()->resultCount(), 100000);
    status->model()->flush();
    EXPECT_EQ(status->model()->rowCount(), 100000);
    EXPECT_EQ(status->model()->index(10, 1).data().toString(), "Failed to Send");
    EXPECT_EQ(status->model()->index(11, 1).data().toString(), "Sent");
    EXPECT_EQ(status->sentText(), "Total Emails sent: 90000");
    EXPECT_EQ(status->groupText(), "Current Group: <General>");
    EXPECT_EQ(status->progress()->value(), 100000);
    window.show();
    // The status texts are painted on their own timer; the screen must come to show the counts.
    auto painted = [&](const QString& text) {
        for (auto* label : status->findChildren<QLabel*>())
            if (label->isVisible() && label->text() == text) return true;
        return false;
    };
    EXPECT_TRUE(test::waitFor([&] {
        return painted("Total Emails sent: 90000") && painted("Current Group: <General>");
    }));
    test::screenshot(&window, "main-send-status-sending");

    RecordedBoxes boxes;
    boxes.answers = {false};
    RunSummary summary;
    summary.sent = 1;
    summary.failed = 9;
    summary.failedPercent = 90;
    summary.askSupport = true;
    window.runFinished(summary);
    EXPECT_EQ(boxes.shown, QStringList{"Quillmark has finished sending emails and will now "
                                       "stop all the threads."});
    ASSERT_EQ(boxes.asked.size(), 1);
    EXPECT_TRUE(boxes.asked.first().startsWith("Nearly 90 percent of your mails"));
    EXPECT_FALSE(window.commandState().sending);
    EXPECT_TRUE(status->viewLogButton()->isEnabled());
    EXPECT_EQ(status->progress()->value(), 0);
}

TEST(MainWindow, Screenshots) {
    if (qEnvironmentVariable("QUILLMARK_SCREENSHOTS").isEmpty()) GTEST_SKIP();
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    window.form()->senderName()->setText("Ann Example");
    window.form()->senderAddress()->setText("ann@example.com");
    window.form()->subject()->setText("Spring offers");
    window.form()->recipients()->setPlainText("bob@example.com; carol@example.com");
    window.composer()->setDocumentText(
        "<html><body><h2>Hello [**USER**]</h2><p>Our <b>spring</b> offers are here.</p>"
        "<ul><li>One</li><li>Two</li></ul></body></html>");
    auto* editor = window.composer()->editor();
    test::waitFor([&] { return editor->isReady(); });
    QTest::qWait(300);
    for (QSize size : {QSize(800, 580), QSize(1366, 768)}) {
        window.resize(size);
        const QString suffix = size.width() == 800 ? "-800x580" : "-large";
        const char* names[] = {"message", "html-preview", "smtp-settings", "send-status"};
        for (int i = 0; i < 4; ++i) {
            window.tabs()->setCurrentIndex(i);
            QTest::qWait(i == 1 ? 800 : 150);
            test::screenshot(&window, QString("main-") + names[i] + suffix);
        }
    }
    window.resize(800, 580);
    window.tabs()->setCurrentIndex(0);
    window.composer()->plainButton()->click();
    window.composer()->plainEdit()->setPlainText("Dear [**USER**],\n\nPlain text version.");
    test::screenshot(&window, "main-message-plain-800x580");

    // The stock dialogs the window opens with texts of its own.
    window.composer()->htmlButton()->click();
    shootNextModal<QInputDialog>("main-hyperlink");
    for (QAction* a : window.composer()->findChildren<QAction*>())
        if (a->text() == "Link...") a->trigger();
    shootNextModal<QMessageBox>("main-about");
    window.action(Command::About)->trigger();
}

}  // namespace
}  // namespace qm
