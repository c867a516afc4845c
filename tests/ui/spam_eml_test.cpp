// Spam Check and the EML import on screen: the "Spam Score" and "Help" screens, the busy window
// with Cancel, the "EML file parser" dialog with its preview, and both commands from the main
// window. Analysers here are stand-ins put where a bundled copy goes (the real one is exercised
// by the core and command-line tests).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <fstream>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/main_window.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "message/ui/composer.h"
#include "message/ui/eml_import_dialog.h"
#include "spamcheck/spam_report.h"
#include "spamcheck/ui/spam_check_busy.h"
#include "spamcheck/ui/spam_score_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

const std::string kCaptured =
    std::string(QM_SOURCE_DIR) + "/tests/spamcheck/captured/sa4_spam_7_1_crlf.txt";

// Acts once on the first modal window of type D, looking every 20 ms (nested loops included).
template <typename D>
void whenModal(std::function<void(D*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start(20);
}

QString cell(QTableView* grid, int row, int column) {
    return grid->model()->index(row, column).data().toString();
}

TEST(SpamScreens, ScoreGridAndHelpFollowTheReport) {
    std::ifstream in(kCaptured, std::ios::binary);
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ui::SpamScoreDialog dialog(parseAnalyserOutput(output));
    dialog.show();
    QTableView* grid = dialog.grid();
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "Score");
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Rule");
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), "Description");
    ASSERT_EQ(grid->model()->rowCount(), 9);
    EXPECT_EQ(cell(grid, 2, 1), "MISSING_MID");
    EXPECT_EQ(cell(grid, 7, 2), "[newsletter.offers(at)gmail.com]");
    EXPECT_EQ(dialog.scoreLabel()->text(),
              "Content analysis details: Your spam score is : 7.1 points.");
    test::screenshot(&dialog, "spam-score");

    dialog.showHelp();
    ASSERT_NE(dialog.helpWindow(), nullptr);
    EXPECT_TRUE(
        dialog.helpWindow()->textLabel()->text().contains("found the quality of message "
                                                          "to be poor"));
    test::screenshot(dialog.helpWindow(), "spam-help");

    ui::SpamHelpDialog good(6.3);
    EXPECT_TRUE(good.textLabel()->text().contains("to be good"));
}

struct Window {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    DesktopCore core;
    ui::MainWindow window{core};
    Paths paths = Paths::current(SettingsStore::open());

    Window() {
        window.show();
        window.form()->senderName()->setText("Ann Example");
        window.form()->senderAddress()->setText("ann@example.com");
        window.form()->subject()->setText("Spring offers");
        // Plain text: the check starts at once, without waiting for the HTML editor.
        window.composer()->plainButton()->click();
        window.composer()->plainEdit()->setPlainText("Hello, the offers are attached.");
    }
    void analyser(const std::string& script) {
        makeFolders(paths.programFolder() + "/spamassassin");
        const std::string path = paths.programFolder() + "/spamassassin/spamassassin";
        std::ofstream(path) << "#!/bin/sh\n" << script;
        ::chmod(path.c_str(), 0755);
    }
    void spamCheck() { window.action(Command::SpamCheck)->trigger(); }
};

TEST(MainWindowSpamCheck, FlaggedMessageOpensSpamScore) {
    Window w;
    QAction* command = w.window.action(Command::SpamCheck);
    EXPECT_TRUE(command->isEnabled());
    EXPECT_EQ(command->toolTip(), "Check Mail for Spam");
    const std::string seen = w.paths.programFolder() + "/seen.txt";
    w.analyser("cp \"$3\" '" + seen + "'\ncat '" + kCaptured + "'\n");
    QString scoreLine;
    int rows = 0;
    whenModal<ui::SpamScoreDialog>([&](ui::SpamScoreDialog* d) {
        scoreLine = d->scoreLabel()->text();
        rows = d->grid()->model()->rowCount();
        d->accept();
    });
    w.spamCheck();
    EXPECT_EQ(scoreLine, "Content analysis details: Your spam score is : 7.1 points.");
    EXPECT_EQ(rows, 9);
    EXPECT_TRUE(w.boxes.shown.isEmpty()) << w.boxes.shown.join("|").toStdString();
    // What the analyser read is the message as a send builds it.
    std::string sent;
    ASSERT_TRUE(readFile(seen, sent));
    EXPECT_NE(sent.find("Subject: Spring offers\r\n"), std::string::npos);
}

TEST(MainWindowSpamCheck, AnswersWithoutTheScoreScreen) {
    struct Case {
        const char* name;
        std::string script;
        QStringList shown;
    };
    const Case cases[] = {
        {"not flagged", "echo 'Subject: Spring offers'\n", {"Message is not Spam."}},
        {"analyser fails",
         "echo broken >&2\nexit 5\n",
         {"The spam checker failed (exit status 5): broken"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        w.analyser(c.script);
        w.spamCheck();
        EXPECT_EQ(w.boxes.shown, c.shown);
    }
}

TEST(MainWindowSpamCheck, CancelStopsAHangingAnalyser) {
    Window w;
    w.analyser("exec sleep 600\n");  // ten minutes: far beyond the bound below
    bool busyShown = false;
    whenModal<ui::SpamCheckBusyDialog>([&](ui::SpamCheckBusyDialog* d) {
        busyShown = true;
        test::screenshot(d, "spam-check-busy");
        d->cancelButton()->click();
    });
    const auto start = std::chrono::steady_clock::now();
    w.spamCheck();
    EXPECT_TRUE(busyShown);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
    EXPECT_TRUE(w.boxes.shown.isEmpty()) << w.boxes.shown.join("|").toStdString();
}

TEST(MainWindowSpamCheck, EmptyMessageIsAskedAbout) {
    Window w;
    const std::string ran = w.paths.programFolder() + "/ran.txt";
    w.analyser("touch '" + ran + "'\necho 'Subject: x'\n");
    w.window.composer()->plainEdit()->clear();
    w.boxes.answers = {false};
    w.spamCheck();
    EXPECT_EQ(w.boxes.asked, QStringList{"Are you sure you want Spam Check an empty message?"});
    EXPECT_TRUE(w.boxes.shown.isEmpty());
    EXPECT_FALSE(fileExists(ran)) << "the declined check ran the analyser";
}

// The Python-written fixtures of the message tests, in a fresh folder.
struct EmlFixtures {
    test::TempDir dir;
    EmlFixtures() {
        const std::string cmd =
            "/usr/bin/python3 " QM_SOURCE_DIR "/tests/message/write_eml.py '" + dir.path() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    QString file(const char* name) const { return QString::fromStdString(dir.file(name)); }
};

TEST(EmlDialog, SourceSizeLimitContentAndPreview) {
    RecordedBoxes boxes;
    EmlFixtures eml;
    test::TempDir out;
    eml.dir.write("limit.eml", std::string(512000, 'a'));
    eml.dir.write("over.eml", std::string(512001, 'a'));
    ui::EmlImportDialog dialog(QString::fromStdString(out.file("EmlOutput")));
    dialog.show();
    dialog.chooseSource(eml.file("limit.eml"));
    EXPECT_EQ(dialog.sourceField()->text(), eml.file("limit.eml"));
    dialog.chooseSource(eml.file("over.eml"));
    EXPECT_EQ(boxes.shown, QStringList{"Please select a file with less than 500kb size."});
    EXPECT_EQ(dialog.sourceField()->text(), eml.file("limit.eml"));

    dialog.add();  // nothing taken yet
    EXPECT_EQ(boxes.shown.last(), "Nothing to add to message.");
    EXPECT_TRUE(dialog.isVisible());

    dialog.chooseSource(eml.file("html_inline.eml"));
    dialog.getContent();
    EXPECT_TRUE(dialog.bodyIsHtml());
    EXPECT_TRUE(dialog.bodyField()->toPlainText().contains("src=\"EmlOutput/logo.png\""));
    ASSERT_EQ(dialog.fileList()->count(), 2);
    EXPECT_EQ(dialog.fileList()->item(0)->text(), "logo.png");

    const QColor background = ui::EmlImportDialog::background();
    auto previewCorner = [&] { return dialog.preview()->pixmap().toImage().pixelColor(0, 0); };
    dialog.fileList()->setCurrentRow(0);
    // The red 40 x 20 picture, scaled to fit.
    EXPECT_EQ(previewCorner(), QColor(200, 30, 30));
    EXPECT_EQ(dialog.preview()->pixmap().size(), QSize(140, 70));
    test::screenshot(&dialog, "eml-import");
    dialog.fileList()->setCurrentRow(1);  // a PDF is no picture
    EXPECT_EQ(previewCorner(), background);

    dialog.add();
    EXPECT_EQ(dialog.result().names, (std::vector<std::string>{"logo.png", "report.pdf"}));
    EXPECT_TRUE(dialog.result().bodyIsHtml);
}

// An import after a wizard page: the page goes, so the checks read the imported message.
TEST(MainWindowEml, ImportReplacesAGeneratedPage) {
    Window w;
    EmlFixtures eml;
    eml.dir.write("page.htm", "<!---Quillmark Generated Template---><p>wizard page</p>");
    w.window.insertWebpageFile(eml.file("page.htm"));
    ASSERT_TRUE(w.window.message().generatedPage);
    ASSERT_TRUE(w.window.composer()->pageInserted());
    whenModal<ui::EmlImportDialog>([&](ui::EmlImportDialog* d) {
        d->chooseSource(eml.file("html_inline.eml"));
        d->getContent();
        d->add();
    });
    w.window.action(Command::ImportEml)->trigger();
    EXPECT_FALSE(w.window.message().generatedPage);
    EXPECT_FALSE(w.window.message().pageInserted);
    EXPECT_FALSE(w.window.composer()->pageInserted());
    EXPECT_FALSE(w.window.composer()->generatedPage());
    EXPECT_TRUE(w.window.composer()->isHtml());
    EXPECT_TRUE(w.window.action(Command::InsertWebpage)->isEnabled());
    EXPECT_EQ(w.window.message().attachments.names(),
              (std::vector<std::string>{"logo.png", "report.pdf"}));
}

// A Get Content that fails after one that worked leaves nothing to add.
TEST(EmlDialog, FailedContentClearsTheEarlierBody) {
    RecordedBoxes boxes;
    EmlFixtures eml;
    test::TempDir out;
    ui::EmlImportDialog dialog(QString::fromStdString(out.file("EmlOutput")));
    dialog.chooseSource(eml.file("html_inline.eml"));
    dialog.getContent();
    ASSERT_FALSE(dialog.bodyField()->toPlainText().isEmpty());
    dialog.chooseSource(eml.file("missing.eml"));
    dialog.getContent();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(dialog.bodyField()->toPlainText().isEmpty());
    EXPECT_FALSE(dialog.bodyIsHtml());
    EXPECT_EQ(dialog.fileList()->count(), 0);
    dialog.add();
    EXPECT_EQ(boxes.shown.last(), "Nothing to add to message.");
}

TEST(MainWindowEml, AddTakesTextAndFilesCancelKeepsTheText) {
    Window w;
    EmlFixtures eml;
    w.window.composer()->plainEdit()->setPlainText("before");
    whenModal<ui::EmlImportDialog>([&](ui::EmlImportDialog* d) {
        d->chooseSource(eml.file("nested.eml"));
        d->getContent();
        d->add();
    });
    w.window.action(Command::ImportEml)->trigger();
    EXPECT_TRUE(w.window.composer()->isHtml());
    const auto& files = w.window.message().attachments;
    EXPECT_EQ(files.names(), (std::vector<std::string>{"data.bin", "data-2.bin", "forwarded.eml"}));
    EXPECT_EQ(files.paths()[0], w.paths.emlOutput() + "/data.bin");

    whenModal<ui::EmlImportDialog>([](ui::EmlImportDialog* d) { d->reject(); });
    w.window.composer()->plainButton()->click();
    w.window.composer()->plainEdit()->setPlainText("kept");
    w.window.action(Command::ImportEml)->trigger();
    EXPECT_EQ(w.window.composer()->plainEdit()->toPlainText(), "kept");
    EXPECT_EQ(w.window.message().attachments.size(), 0u);
}

}  // namespace
}  // namespace qm
