// The Quillsetup screen offscreen: the enabling rules, the "Invalid Data" warnings in order, the
// port that follows the security choice, the help links, starting quillmark, and "Test
// connection" against aiosmtpd (run through tests/peers/with_peers.sh aio).
#include "setup/ui/setup_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "../integration/peer_env.h"
#include "config/settings.h"
#include "ui_support.h"

namespace qm::ui {
namespace {

template <class W>
W* find(QWidget* window, const QString& text) {
    for (W* w : window->findChildren<W*>()) {
        if constexpr (std::is_same_v<W, QLineEdit>) {
            if (w->accessibleName() == text) return w;
        } else if (w->text() == text) {
            return w;
        }
    }
    ADD_FAILURE() << "no widget " << text.toStdString();
    return nullptr;
}

struct Screen {
    SetupWindow window;
    QRadioButton* smtp = find<QRadioButton>(&window, "SMTP :  (IP, Port)");
    QRadioButton* mx = find<QRadioButton>(&window, "MX ");
    QRadioButton* authYes = find<QRadioButton>(&window, "Authentication Required");
    QRadioButton* authNo = find<QRadioButton>(&window, "No, Authentication not required");
    QLineEdit* server = find<QLineEdit>(&window, "SMTP server");
    QLineEdit* port = find<QLineEdit>(&window, "Port");
    QComboBox* security = [this] {
        for (QComboBox* c : window.findChildren<QComboBox*>())
            if (c->findText("STARTTLS") >= 0) return c;
        return static_cast<QComboBox*>(nullptr);
    }();
    QList<QLineEdit*> edits = window.findChildren<QLineEdit*>();
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QStringList started;
    QList<QUrl> opened;
    Screen() {
        for (QLineEdit* e : edits) {
            if (e->echoMode() == QLineEdit::Password)
                password = e;
            else if (e != server && e != port && !qobject_cast<QComboBox*>(e->parent()) &&
                     e->placeholderText().isEmpty())
                user = e;
        }
        window.startProgram = [this](const QString& p) {
            started << p;
            return true;
        };
        window.openLink = [this](const QUrl& u) { opened << u; };
        window.show();
    }
};

TEST(SetupWindow, EnablingRules) {
    Screen s;
    EXPECT_TRUE(s.smtp->isChecked());
    EXPECT_TRUE(s.authYes->isChecked());
    EXPECT_EQ(s.port->text(), "25");
    EXPECT_TRUE(s.user->isEnabled());
    test::screenshot(&s.window, "setup_smtp");

    s.authNo->click();
    EXPECT_TRUE(s.server->isEnabled());
    EXPECT_FALSE(s.user->isEnabled());
    EXPECT_FALSE(s.password->isEnabled());

    s.authYes->click();
    s.mx->click();
    for (QWidget* w : {static_cast<QWidget*>(s.server), static_cast<QWidget*>(s.port),
                       static_cast<QWidget*>(s.security), static_cast<QWidget*>(s.user),
                       static_cast<QWidget*>(s.password), static_cast<QWidget*>(s.authYes)})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_FALSE(find<QPushButton>(&s.window, "Test connection")->isEnabled());
    test::screenshot(&s.window, "setup_mx");

    s.smtp->click();
    EXPECT_TRUE(s.user->isEnabled());
    EXPECT_TRUE(s.authYes->isEnabled());
}

TEST(SetupWindow, PortFollowsSecurityUnlessTyped) {
    Screen s;
    s.security->setCurrentIndex(1);
    EXPECT_EQ(s.port->text(), "587");
    s.security->setCurrentIndex(2);
    EXPECT_EQ(s.port->text(), "465");
    s.port->clear();
    QTest::keyClicks(s.port, "2525x");  // the letter is refused by the edit
    EXPECT_EQ(s.port->text(), "2525");
    s.security->setCurrentIndex(0);
    EXPECT_EQ(s.port->text(), "2525");
}

TEST(SetupWindow, LaunchWarnsInOrderThenWritesAndStarts) {
    test::FreshProfile profile;
    test::RecordedBoxes boxes;
    // A quillmark on PATH (the test binary's own folder has none).
    const std::string bin = profile.dir.file("bin");
    std::filesystem::create_directories(bin);
    profile.dir.write("bin/quillmark", "#!/bin/sh\n");
    ::chmod((bin + "/quillmark").c_str(), 0755);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin) + ":" + oldPath);

    Screen s;
    s.window.launch();
    EXPECT_EQ(s.window.focusWidget(), s.user);
    QTest::keyClicks(s.user, "alice");
    s.window.launch();
    EXPECT_EQ(s.window.focusWidget(), s.password);
    QTest::keyClicks(s.password, "s3cret");
    s.window.launch();
    EXPECT_EQ(s.window.focusWidget(), s.server);
    EXPECT_EQ(boxes.shown, QStringList({"Please enter the Username you want to use",
                                        "Please enter the Password you want to use",
                                        "Please enter the address of the SMTP Server you want "
                                        "to use"}));
    EXPECT_EQ(boxes.titles, QStringList({"Invalid Data", "Invalid Data", "Invalid Data"}));
    EXPECT_TRUE(s.started.isEmpty());
    // The account is stored already; the server is not.
    SettingsStore store = SettingsStore::open();
    EXPECT_EQ(store.read(keys::kSmtpUser), "alice");
    EXPECT_EQ(store.read(keys::kSmtpServer), "");

    for (int i = 0; i < boxes.shown.size(); ++i) {
        QMessageBox box(QMessageBox::Warning, boxes.titles[i], boxes.shown[i], QMessageBox::Ok);
        test::screenshot(&box, QString("setup_invalid_data_%1").arg(i + 1));
    }

    QTest::keyClicks(s.server, "smtp.example.test");
    s.window.launch();
    EXPECT_EQ(s.started, QStringList({QString::fromStdString(bin + "/quillmark")}));
    EXPECT_EQ(s.window.result(), QDialog::Accepted);
    EXPECT_EQ(store.read(keys::kSmtpServer), "smtp.example.test");
    EXPECT_EQ(store.read(keys::kSmtpPort), "25");
    EXPECT_EQ(store.read(keys::kSmtpAuth), "y");
    EXPECT_EQ(store.read(keys::kSmtpPassword), "s3cret");
    qputenv("PATH", oldPath);
}

TEST(SetupWindow, HelpLinksOpenTheReadmeAndTurnPurple) {
    Screen s;
    QList<QLabel*> links;
    for (QLabel* l : s.window.findChildren<QLabel*>())
        if (l->text().contains("<a ")) links << l;
    ASSERT_EQ(links.size(), 2);
    for (QLabel* l : links) {
        EXPECT_TRUE(l->text().contains("#0000ee"));
        emit l->linkActivated("#");
        EXPECT_TRUE(l->text().contains("#551a8b"));
    }
    ASSERT_EQ(s.opened.size(), 2);
    for (const QUrl& u : s.opened) {
        EXPECT_TRUE(u.isLocalFile());
        EXPECT_TRUE(u.toLocalFile().endsWith("README.md")) << u.toString().toStdString();
        EXPECT_TRUE(QFile::exists(u.toLocalFile()));
    }
    // Both sections exist in the README the links open.
    QFile readme(s.opened[0].toLocalFile());
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll()).toLower();
    for (const QUrl& u : s.opened)
        EXPECT_TRUE(text.contains("## " + u.fragment().replace('-', ' ')))
            << u.fragment().toStdString();

    auto about = s.window.aboutBox();
    EXPECT_EQ(about->windowTitle(), "About Quillsetup");
    EXPECT_EQ(about->text(), "Quillsetup Version 1.0");
    test::screenshot(about.get(), "setup_about");
}

// "Test connection" against aiosmtpd (alice/s3cret): the window stays responsive while it runs.
TEST(SetupWindow, TestConnection) {
    struct Case {
        const char* name;
        const char* password;
        bool ok;
        const char* shows;
    };
    const Case cases[] = {
        {"good password", "s3cret", true, "Connection works: the server greeted and logged in."},
        {"wrong password", "wrong", false, "Test failed: Authentication Failed"},
    };
    const int port = test::peerPort("QM_AIO_PORT");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        test::RecordedBoxes boxes;
        Screen s;
        QTest::keyClicks(s.server, "127.0.0.1");
        s.port->setText(QString::number(port));
        QTest::keyClicks(s.user, "alice");
        QTest::keyClicks(s.password, k.password);
        QPushButton* button = find<QPushButton>(&s.window, "Test connection");
        int result = -1;
        QObject::connect(&s.window, &SetupWindow::connectionTested,
                         [&result](bool ok) { result = ok; });
        button->click();
        EXPECT_FALSE(button->isEnabled());  // running on its own thread
        ASSERT_TRUE(test::waitFor([&] { return result != -1; }));
        EXPECT_EQ(result, k.ok);
        EXPECT_TRUE(button->isEnabled());
        QLabel* shown = find<QLabel>(&s.window, k.shows);
        EXPECT_NE(shown, nullptr);
        EXPECT_TRUE(boxes.shown.isEmpty());
        test::screenshot(&s.window, QString("setup_test_%1").arg(k.ok ? "good" : "wrong"));
    }
}

TEST(SetupWindow, TestConnectionAsksForTheServerFirst) {
    test::RecordedBoxes boxes;
    Screen s;
    s.authNo->click();
    s.window.testConnection();
    EXPECT_EQ(boxes.shown, QStringList({"Please enter the address of the SMTP Server you want to "
                                        "use"}));
    EXPECT_EQ(s.window.focusWidget(), s.server);
}

}  // namespace
}  // namespace qm::ui
