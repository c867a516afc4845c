// Sending from the main window: the checks before a run, a whole run through smtp-sink with the
// grid, the report screen and the message as the server got it, Stop with its "Stopping
// Threads..." window, the message and settings locked during a run, a relay failure, the test
// campaign, and the attachment commands.
//
// The runs go to the smtp-sink that tests/peers/with_peers.sh starts for this binary (ctest does);
// without it the tests that need it fail.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <functional>
#include <map>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/main_window.h"
#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/run_journal.h"
#include "delivery/test_campaign.h"
#include "delivery/ui/delivery_report_dialog.h"
#include "delivery/ui/send_status_tab.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "delivery/ui/status_model.h"
#include "delivery/ui/stopping_threads_dialog.h"
#include "delivery/ui/test_campaign_dialog.h"
#include "groups/recipient.h"
#include "message/ui/composer.h"
#include "message/ui/html_editor.h"
#include "support/run_support.h"
#include "support/temp_dir.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

std::string sinkEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) {
        ADD_FAILURE() << name << " is not set: run through tests/peers/with_peers.sh (ctest does)";
        return {};
    }
    return v;
}

// Collects what the window asks the desktop to open instead of opening it.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    OpenedUrls() {
        QDesktopServices::setUrlHandler("file", this, "open");
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~OpenedUrls() override {
        QDesktopServices::unsetUrlHandler("file");
        QDesktopServices::unsetUrlHandler("https");
    }
    Q_INVOKABLE void open(const QUrl& url) { urls.append(url); }
    QList<QUrl> urls;
};

// Runs `act` on the next modal dialog of type D once it is open.
template <typename D>
void onDialog(std::function<void(D*)> act) {
    QTimer::singleShot(0, [act] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) act(d);
    });
}

struct Campaign {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    DesktopCore core;
    ui::MainWindow window{core};
    Paths paths = Paths::current(SettingsStore::open());

    Campaign() {
        window.show();
        window.form()->senderName()->setText("Ann Example");
        window.form()->senderAddress()->setText("ann@example.com");
        window.form()->subject()->setText("Spring offers");
        // The untouched start page is what counts as an empty message.
        EXPECT_TRUE(test::waitFor([this] { return window.composer()->editor()->isReady(); }));
    }
    // Relay mode to 127.0.0.1:port, one thread, `wait` seconds after each recipient.
    void relayTo(int port, int wait) {
        auto* tab = window.settingsTab();
        tab->smtpModeButton()->click();
        tab->serverField()->setText("127.0.0.1");
        tab->portField()->setText(QString::number(port));
        tab->waitField()->setValue(wait);
        tab->threadsField()->setValue(1);
    }
    void writeGroup(const std::string& name, const std::vector<std::string>& members) {
        std::string content;
        for (const auto& m : members) {
            Recipient r;
            r.name = "Member";
            r.email = m;
            content += formatStoredLine(r) + "\r\n";
        }
        ASSERT_TRUE(writeFileAtomic(paths.groupRecipients() + "/_" + name + ".sbz", content));
    }
    bool sending() const { return window.commandState().sending; }
    bool runEnds() {
        return test::waitFor([this] { return !sending(); }, 60000);
    }
    std::vector<std::array<QString, 4>> rows() {
        auto* model = window.statusTab()->model();
        model->flush();
        std::vector<std::array<QString, 4>> out;
        for (int r = 0; r < model->rowCount(); ++r)
            out.push_back(
                {model->index(r, 0).data().toString(), model->index(r, 1).data().toString(),
                 model->index(r, 2).data().toString(), model->index(r, 3).data().toString()});
        return out;
    }
};

// The messages smtp-sink dumped whose text holds `needle`.
std::vector<std::string> dumpedWith(const std::string& needle) {
    std::vector<std::string> found;
    const QDir dump(QString::fromStdString(sinkEnv("QM_SINK_DUMP")));
    for (const QString& name : dump.entryList(QDir::Files)) {
        std::string text;
        if (readFile(dump.filePath(name).toStdString(), text) &&
            text.find(needle) != std::string::npos)
            found.push_back(text);
    }
    return found;
}

TEST(Send, ChecksRunInOrderAndPointAtTheField) {
    Campaign c;
    c.window.form()->senderName()->setText("  ");
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return !c.boxes.shown.isEmpty(); }));
    EXPECT_EQ(c.boxes.shown.last(), "Please enter sender's Name.");
    EXPECT_TRUE(c.window.form()->senderName()->hasFocus());

    c.window.form()->senderName()->setText("Ann Example");
    c.window.settingsTab()->smtpModeButton()->click();
    c.window.settingsTab()->serverField()->setText("   ");
    c.boxes.answers = {true};  // the empty message is wanted
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.boxes.shown.size() == 2; }));
    EXPECT_EQ(c.boxes.asked, QStringList{"Are you sure you want send an empty message?"});
    EXPECT_EQ(c.boxes.shown.last(), "Please enter a mail server to send mails.");
    EXPECT_EQ(c.window.tabs()->currentIndex(), ui::MainWindow::SettingsTab);
    EXPECT_TRUE(c.window.settingsTab()->serverField()->hasFocus());

    c.window.settingsTab()->serverField()->setText("127.0.0.1");
    c.window.form()->groupsField()->setText("Unfinished");  // no ";": not a chosen group
    c.boxes.answers = {true};
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.boxes.shown.size() == 3; }));
    EXPECT_EQ(c.boxes.shown.last(), "No valid email address specified.");
    EXPECT_FALSE(c.sending());
}

TEST(Send, SinkHtmlWithInlinePictureToTypedAndGroup) {
    Campaign c;
    OpenedUrls opened;
    c.relayTo(std::atoi(sinkEnv("QM_SINK_PORT").c_str()), 1);
    c.writeGroup("Customers", {"dave@example.com", "erin@example.com"});
    const QString picture = QString::fromStdString(c.profile.dir.file("logo.png"));
    QImage logo(48, 24, QImage::Format_RGB32);
    logo.fill(Qt::darkCyan);
    ASSERT_TRUE(logo.save(picture));

    c.window.form()->subject()->setText("Inline picture run");
    c.window.form()->recipients()->setPlainText("bob@example.com; carol@example.com");
    c.window.form()->groupsField()->setText("Customers;");
    c.window.addAttachments({picture});
    EXPECT_TRUE(c.window.action(Command::RemoveAttachments)->isEnabled());
    auto* editor = c.window.composer()->editor();
    QSignalSpy loaded(editor, &ui::HtmlEditor::loaded);
    c.window.composer()->setDocumentText("<html><body><p>Hello</p><img src=\"" +
                                         QUrl::fromLocalFile(picture).toString() +
                                         "\"></body></html>");
    ASSERT_TRUE(test::waitFor([&] { return !loaded.isEmpty(); }));

    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.sending(); }));
    EXPECT_EQ(c.window.tabs()->currentIndex(), ui::MainWindow::StatusTab);
    for (Command off : {Command::SendEmail, Command::NewEmail, Command::TestCampaign,
                        Command::InsertWebpage, Command::CreateHtmlPage, Command::AddAttachment,
                        Command::DeliveryReport, Command::RemoveAttachments})
        EXPECT_FALSE(c.window.action(off)->isEnabled()) << static_cast<int>(off);
    EXPECT_TRUE(c.window.action(Command::StopSending)->isEnabled());
    EXPECT_FALSE(c.window.form()->senderName()->isEnabled());
    EXPECT_FALSE(c.window.form()->attachmentList()->isEnabled());
    for (QPushButton* button : c.window.findChildren<QPushButton*>()) {
        if (button->text() == "Attach" || button->text() == "Delete") {
            EXPECT_FALSE(button->isEnabled()) << button->text().toStdString();
        }
    }
    EXPECT_FALSE(c.window.statusTab()->viewLogButton()->isEnabled());
    EXPECT_FALSE(c.window.statusTab()->view()->isEnabled());
    EXPECT_FALSE(c.window.composer()->isEnabled());
    EXPECT_FALSE(c.window.settingsTab()->isEnabled());
    EXPECT_FALSE(c.window.close());
    EXPECT_EQ(c.boxes.shown,
              QStringList{"Sorry, you cannot close the application while sending emails."});
    test::screenshot(&c.window, "main-send-status-run-800x580");

    ASSERT_TRUE(c.runEnds());
    EXPECT_EQ(c.boxes.shown.last(),
              "Quillmark has finished sending emails and will now stop all the threads.");
    EXPECT_TRUE(c.boxes.asked.isEmpty()) << "nothing failed, so no percentage question";
    EXPECT_EQ(c.window.stoppingWindow(), nullptr);
    const auto rows = c.rows();
    ASSERT_EQ(rows.size(), 4u);
    std::vector<QString> order;
    for (const auto& row : rows) {
        EXPECT_EQ(row[0], "Thread# 1");
        EXPECT_EQ(row[1], "Sent") << row[3].toStdString();
        order.push_back(row[2] + ":" + row[3]);
    }
    std::sort(order.begin(), order.begin() + 2);
    std::sort(order.begin() + 2, order.end());
    EXPECT_EQ(order,
              (std::vector<QString>{"<General>:bob@example.com", "<General>:carol@example.com",
                                    "Customers:dave@example.com", "Customers:erin@example.com"}))
        << "typed addresses first, then the group";
    for (Command on : {Command::SendEmail, Command::NewEmail, Command::CreateHtmlPage,
                       Command::DeliveryReport, Command::RemoveAttachments})
        EXPECT_TRUE(c.window.action(on)->isEnabled()) << static_cast<int>(on);
    EXPECT_FALSE(c.window.action(Command::StopSending)->isEnabled());
    EXPECT_TRUE(c.window.form()->senderName()->isEnabled());
    EXPECT_TRUE(c.window.composer()->isEnabled());
    EXPECT_TRUE(c.window.settingsTab()->isEnabled());
    EXPECT_TRUE(c.window.statusTab()->viewLogButton()->isEnabled());
    EXPECT_EQ(c.window.statusTab()->progress()->value(), 0);
    test::screenshot(&c.window, "main-send-status-finished-800x580");
    c.window.resize(1366, 768);
    test::screenshot(&c.window, "main-send-status-finished-large");
    c.window.resize(800, 580);

    // The picture went inline: a related part with its Content-ID, referred to by cid:.
    const auto dumped = dumpedWith("Subject: Inline picture run");
    EXPECT_EQ(dumped.size(), 4u);
    for (const std::string& text : dumped) {
        EXPECT_NE(text.find("multipart/related"), std::string::npos);
        EXPECT_NE(text.find("Content-ID: <logo.png>"), std::string::npos);
        EXPECT_NE(text.find("cid:logo.png"), std::string::npos);
        EXPECT_EQ(text.find("file://"), std::string::npos) << "no local path leaves the machine";
    }

    // The report screen lists both groups and shows the rows of the one chosen.
    bool reportSeen = false;
    onDialog<ui::DeliveryReportDialog>([&](ui::DeliveryReportDialog* report) {
        reportSeen = true;
        QStringList groups;
        for (int i = 0; i < report->groupList()->count(); ++i)
            groups << report->groupList()->item(i)->text();
        groups.sort();
        EXPECT_EQ(groups, (QStringList{"<General>", "Customers"}));
        auto* grid = report->grid()->model();
        EXPECT_EQ(grid->headerData(0, Qt::Horizontal).toString(), "Email");
        EXPECT_EQ(grid->headerData(1, Qt::Horizontal).toString(), "Status");
        EXPECT_EQ(grid->rowCount(), 0) << "no rows until a group is chosen";
        report->groupList()->setCurrentItem(
            report->groupList()->findItems("Customers", Qt::MatchExactly).first());
        ASSERT_EQ(grid->rowCount(), 2);
        EXPECT_EQ(grid->index(0, 1).data().toString(), "Sent");
        test::screenshot(report, "dialog-mail-delivery-report");
        report->save();
        EXPECT_EQ(c.boxes.shown.last(), "There were no undelivered email addresses.");
        report->accept();
    });
    QApplication::setActiveWindow(&c.window);
    QTest::keyClick(&c.window, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(reportSeen);

    c.window.statusTab()->viewLogButton()->click();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls.first().toLocalFile().toStdString(), c.paths.sendLog());
    std::string log;
    ASSERT_TRUE(readFile(c.paths.sendLog(), log));
    EXPECT_NE(log.find("Recipient : erin@example.com"), std::string::npos);
}

TEST(Send, SinkStopAsksThenWaitsInTheStoppingWindow) {
    Campaign c;
    c.relayTo(std::atoi(sinkEnv("QM_SINK_PORT").c_str()), 5);
    c.window.composer()->plainButton()->click();
    c.window.composer()->plainEdit()->setPlainText("Plain words.");
    c.window.form()->recipients()->setPlainText("s1@example.com; s2@example.com; s3@example.com");
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.window.statusTab()->model()->resultCount() > 0; }));

    c.boxes.answers = {false};
    QApplication::setActiveWindow(&c.window);
    QTest::keyClick(&c.window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(c.sending()) << "No keeps the run going";
    c.boxes.answers = {true};
    c.window.action(Command::StopSending)->trigger();
    EXPECT_EQ(c.boxes.asked, QStringList(2, "Are you sure you want to stop the process?"));
    ui::StoppingThreadsDialog* stopping = c.window.stoppingWindow();
    ASSERT_TRUE(stopping);
    EXPECT_EQ(stopping->windowTitle(), "Stopping Threads...");
    EXPECT_TRUE(stopping->isVisible());
    test::screenshot(stopping, "dialog-stopping-threads");

    ASSERT_TRUE(c.runEnds());
    EXPECT_EQ(c.window.stoppingWindow(), nullptr);
    EXPECT_TRUE(c.boxes.shown.isEmpty())
        << "Stop shows no summary: " << c.boxes.shown.join("|").toStdString();
    EXPECT_EQ(c.rows().size(), 1u) << "the rows recorded before Stop stay";
    EXPECT_TRUE(c.window.action(Command::SendEmail)->isEnabled());
    EXPECT_TRUE(c.window.close()) << "nothing is being sent any more";
}

// The message and the delivery settings a run was started from cannot change under it: typing
// into the editor or the settings tab does nothing while it is sent, and works again after Stop.
TEST(Send, SinkMessageAndSettingsAreLockedWhileARunIsSent) {
    Campaign c;
    c.relayTo(std::atoi(sinkEnv("QM_SINK_PORT").c_str()), 5);
    ui::Composer* composer = c.window.composer();
    ui::SmtpSettingsTab* tab = c.window.settingsTab();
    composer->plainButton()->click();
    QPlainTextEdit* plain = composer->plainEdit();
    plain->setPlainText("Plain words.");
    plain->moveCursor(QTextCursor::End);
    auto* startDate = tab->findChild<QDateEdit*>();
    ASSERT_TRUE(startDate);
    ASSERT_FALSE(startDate->isEnabled()) << "no start date while \"Start immediately\"";
    c.window.form()->recipients()->setPlainText("l1@example.com; l2@example.com");
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.sending(); }));

    EXPECT_FALSE(composer->isEnabled());
    EXPECT_FALSE(tab->isEnabled());
    QApplication::setActiveWindow(&c.window);
    QTest::keyClicks(plain, " More");
    QTest::keyClicks(tab->serverField(), "x");
    QTest::keyClick(tab->threadsField(), Qt::Key_Up);
    composer->htmlButton()->click();
    tab->mxModeButton()->click();
    EXPECT_EQ(plain->toPlainText().toStdString(), "Plain words.");
    EXPECT_EQ(tab->serverField()->text().toStdString(), "127.0.0.1");
    EXPECT_EQ(tab->threadsField()->value(), 1);
    EXPECT_FALSE(composer->isHtml());
    EXPECT_FALSE(tab->settings().mxMode);
    for (int i : {ui::MainWindow::MessageTab, ui::MainWindow::SettingsTab}) {
        c.window.tabs()->setCurrentIndex(i);
        test::screenshot(&c.window, i == ui::MainWindow::MessageTab
                                        ? "main-message-locked-800x580"
                                        : "main-smtp-settings-locked-800x580");
    }

    c.boxes.answers = {true};
    c.window.action(Command::StopSending)->trigger();
    ASSERT_TRUE(c.runEnds());
    EXPECT_TRUE(composer->isEnabled());
    EXPECT_TRUE(tab->isEnabled());
    EXPECT_FALSE(startDate->isEnabled()) << "unlocking keeps the tab's own rules";
    QTest::keyClicks(plain, " More");
    QTest::keyClicks(tab->serverField(), "x");
    EXPECT_EQ(plain->toPlainText().toStdString(), "Plain words. More");
    EXPECT_EQ(tab->serverField()->text().toStdString(), "127.0.0.1x");
}

TEST(Send, RelayFailureEndsTheRunWithItsMessage) {
    Campaign c;
    // A port that nothing listens on: every connection attempt is refused at once.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(s);
    c.relayTo(ntohs(a.sin_port), 0);
    c.window.form()->recipients()->setPlainText("nobody@example.com");
    c.boxes.answers = {true};  // the empty message is wanted
    c.window.action(Command::SendEmail)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.boxes.shown.size() == 1; }, 60000));
    EXPECT_EQ(c.boxes.shown.first(), "Error connecting to specified mail server.");
    EXPECT_FALSE(c.sending());
    EXPECT_TRUE(c.rows().empty()) << "the failing recipient gets no row";
    EXPECT_TRUE(c.window.action(Command::SendEmail)->isEnabled());
    EXPECT_TRUE(c.window.statusTab()->viewLogButton()->isEnabled());
    EXPECT_TRUE(c.window.composer()->isEnabled());
    EXPECT_TRUE(c.window.settingsTab()->isEnabled());
}

// A run killed with one recipient sent and one in flight: the window's start asks whether to send
// to the rest; "Show" tells the counts and asks again, "Yes" sends to the one never offered and
// the grid holds the whole run once; "No" forgets the run and sends nothing.
TEST(Send, SinkInterruptedRunIsOfferedAtStartAndResumed) {
    Campaign c;
    const int port = std::atoi(sinkEnv("QM_SINK_PORT").c_str());
    auto killedRun = [&](const std::string& tag) {
        RunRequest r = test::plainRunRequest(
            port, {tag + "-a@example.com", tag + "-b@example.com", tag + "-c@example.com"});
        r.message.subject = "Interrupted " + tag;
        auto j = RunJournal::create(newJournalPath(c.paths), encodeRunRequest(r, {}));
        ASSERT_TRUE(j);
        j->begin(1, kGeneralGroup, tag + "-a@example.com");
        j->end(1, kGeneralGroup, tag + "-a@example.com", JournalOutcome::Sent, 250, "Sent");
        j->begin(2, kGeneralGroup, tag + "-b@example.com");
    };
    const QString question =
        "The last run was interrupted: 1 of 3 recipients were sent. Send to the remaining 1?";

    killedRun("no");
    c.boxes.picks = {1};
    c.window.offerResume();
    EXPECT_EQ(c.boxes.asked, QStringList{question});
    EXPECT_TRUE(listJournals(c.paths).empty());
    EXPECT_FALSE(c.sending());

    killedRun("yes");
    c.boxes.asked.clear();
    c.boxes.picks = {2, 0};
    c.window.offerResume();
    EXPECT_EQ(c.boxes.asked, (QStringList{question, question}));
    ASSERT_FALSE(c.boxes.shown.isEmpty());
    EXPECT_TRUE(c.boxes.shown.first().contains("May have been delivered: 1"))
        << c.boxes.shown.first().toStdString();
    EXPECT_TRUE(c.boxes.shown.first().contains("Not sent yet: 1"));
    ASSERT_TRUE(c.runEnds());
    const auto rows = c.rows();
    ASSERT_EQ(rows.size(), 3u);
    std::map<QString, QString> byAddress;
    for (const auto& row : rows) byAddress[row[3]] = row[1];
    EXPECT_EQ(byAddress["yes-a@example.com"], "Sent");
    // The grid tells sent from not sent; the in-doubt wording goes to the report.
    EXPECT_EQ(byAddress["yes-b@example.com"], "Failed to Send");
    EXPECT_EQ(byAddress["yes-c@example.com"], "Sent");
    test::screenshot(&c.window, "main-resumed-run-800x580");
    EXPECT_EQ(dumpedWith("<yes-c@example.com>").size(), 1u);
    EXPECT_TRUE(dumpedWith("<yes-a@example.com>").empty());
    EXPECT_TRUE(dumpedWith("<yes-b@example.com>").empty());
    EXPECT_TRUE(dumpedWith("<no-c@example.com>").empty());
    EXPECT_TRUE(listJournals(c.paths).empty());
}

TEST(Send, SinkTestCampaignGoesOnlyToTheTypedTestAddresses) {
    Campaign c;
    c.relayTo(std::atoi(sinkEnv("QM_SINK_PORT").c_str()), 0);
    c.writeGroup("Friends", {"friend@example.com"});
    c.window.form()->recipients()->setPlainText("main@example.com");
    c.window.form()->groupsField()->setText("Friends;");
    c.window.form()->subject()->setText("Test campaign run");
    c.window.composer()->plainButton()->click();
    c.window.composer()->plainEdit()->setPlainText("Trial.");

    onDialog<ui::TestCampaignDialog>([](ui::TestCampaignDialog* d) {
        d->field()->setPlainText("a@x.test,b@x.test,c@x.test,d@x.test,e@x.test,f@x.test");
        d->sendButton()->click();
        d->field()->setPlainText("t1@example.com, t2@example.com");
        d->sendButton()->click();
    });
    c.window.action(Command::TestCampaign)->trigger();
    ASSERT_TRUE(test::waitFor([&] { return c.sending(); }));
    ASSERT_TRUE(c.runEnds());
    EXPECT_EQ(c.boxes.shown,
              (QStringList{"You cannot enter more than 5 Email IDs.",
                           "Quillmark has finished sending emails and will now stop all the "
                           "threads."}));
    QStringList got;
    for (const auto& row : c.rows()) got << row[2] + ":" + row[3];
    got.sort();
    EXPECT_EQ(got, (QStringList{"<General>:t1@example.com", "<General>:t2@example.com"}));
    EXPECT_EQ(dumpedWith("Subject: Test campaign run").size(), 2u);

    // The screen opens again with the addresses it last accepted.
    QString shown = "<not shown>";
    onDialog<ui::TestCampaignDialog>([&](ui::TestCampaignDialog* d) {
        shown = d->field()->toPlainText();
        d->reject();
    });
    c.window.action(Command::TestCampaign)->trigger();
    EXPECT_EQ(shown, "t1@example.com, t2@example.com");
}

// Help > Contents (F1) and "Help for Settings" open the README of the installed documentation
// until a manual exists; without one both say they are not available.
TEST(MainWindowHelp, ContentsAndHelpForSettingsOpenTheReadme) {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    test::TempDir doc;
    doc.write("README.md", "# Quillmark\n");
    qputenv("QUILLMARK_DOC", QByteArray::fromStdString(doc.path()));
    {
        DesktopCore core;
        ui::MainWindow window(core);
        OpenedUrls opened;
        QAction* contents = window.action(Command::HelpContents);
        ASSERT_TRUE(contents);
        EXPECT_TRUE(contents->isEnabled());
        EXPECT_EQ(contents->shortcut(), QKeySequence(Qt::Key_F1));
        contents->trigger();
        QPushButton* help = window.settingsTab()->helpButton();
        EXPECT_EQ(help->text(), "Help for Settings");
        EXPECT_TRUE(help->isEnabled());
        help->click();
        const QUrl readme = QUrl::fromLocalFile(QString::fromStdString(doc.file("README.md")));
        EXPECT_EQ(opened.urls, (QList<QUrl>{readme, readme}));
    }
    test::TempDir empty;
    qputenv("QUILLMARK_DOC", QByteArray::fromStdString(empty.path()));
    {
        DesktopCore core;
        ui::MainWindow window(core);
        EXPECT_FALSE(window.action(Command::HelpContents)->isEnabled());
        EXPECT_FALSE(window.settingsTab()->helpButton()->isEnabled());
    }
    qunsetenv("QUILLMARK_DOC");
}

// Alt+Backspace undoes the last edit of the focused text field, in a line and in a text box.
TEST(MainWindowKeys, AltBackspaceUndoes) {
    test::FreshProfile profile;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    QLineEdit* subject = window.form()->subject();
    subject->setText("Spring");
    subject->insert(" offers");
    QTest::keyClick(subject, Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(subject->text(), "Spring");
    QPlainTextEdit* recipients = window.form()->recipients();
    recipients->setPlainText("a@example.com");
    recipients->insertPlainText("; b@example.com");
    QTest::keyClick(recipients, Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(recipients->toPlainText(), "a@example.com");
    // A plain Backspace still deletes one character.
    QTest::keyClick(subject, Qt::Key_End);
    QTest::keyClick(subject, Qt::Key_Backspace);
    EXPECT_EQ(subject->text(), "Sprin");
}

TEST(Send, AttachmentCommandsKeepTheListAndTheRulesTogether) {
    Campaign c;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(c.profile.dir.file("one"))));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(c.profile.dir.file("two"))));
    c.profile.dir.write("one/notes.txt", "first");
    c.profile.dir.write("two/notes.txt", "second");
    const std::string a = c.profile.dir.file("one/notes.txt");
    const std::string b = c.profile.dir.file("two/notes.txt");
    EXPECT_FALSE(c.window.action(Command::RemoveAttachments)->isEnabled());
    c.window.addAttachments({QString::fromStdString(a), QString::fromStdString(b)});
    ASSERT_EQ(c.window.form()->attachmentList()->count(), 1) << "one row per file name";
    EXPECT_EQ(c.window.form()->attachmentList()->item(0)->text(), "notes.txt");
    EXPECT_TRUE(c.window.action(Command::RemoveAttachments)->isEnabled());
    c.window.form()->attachmentList()->clearSelection();
    c.window.removeSelectedAttachment();
    EXPECT_EQ(c.boxes.shown, QStringList{"Please select a attachment to remove."});
    c.window.form()->attachmentList()->setCurrentRow(0);
    c.window.removeSelectedAttachment();
    EXPECT_EQ(c.window.form()->attachmentList()->count(), 0);
    EXPECT_EQ(c.window.message().attachments.size(), 0u);
    EXPECT_FALSE(c.window.action(Command::RemoveAttachments)->isEnabled());
}

}  // namespace
}  // namespace qm

#include "send_test.moc"
