// The retrieval screen in both modes, the change-password screen and the filter/save dialog,
// driven offscreen; a retrieval runs against the scripted POP3 server.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "config/paths.h"
#include "config/settings.h"
#include "subscriptions/fake_pop3_server.h"
#include "subscriptions/mailbox_settings.h"
#include "subscriptions/ui/change_password_dialog.h"
#include "subscriptions/ui/filter_dialog.h"
#include "subscriptions/ui/retrieval_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

struct Profile {
    Profile() : store(fresh.config()), paths(fresh.home()) { paths.ensureFolders(); }
    test::FreshProfile fresh;
    SettingsStore store;
    Paths paths;
};

TEST(RetrievalScreen, OpensWithTheRememberedAccountAndChecksInOrder) {
    Profile p;
    MailboxSettings s;
    s.user = "unsub@example.org";
    s.password = "pw";
    s.server = "pop.example.org";
    s.remember = true;
    ASSERT_TRUE(saveMailboxSettings(p.store, s));
    RecordedBoxes boxes;
    ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Unsubscribe);
    EXPECT_EQ(dialog.windowTitle(), "Retrieve Unsubscribe Users");
    EXPECT_EQ(dialog.userField()->text(), "unsub@example.org");
    EXPECT_EQ(dialog.passwordField()->text(), "pw");
    EXPECT_TRUE(dialog.serverField()->isReadOnly());
    EXPECT_EQ(dialog.portField()->value(), 110);
    EXPECT_FALSE(dialog.startRetrieval());
    EXPECT_EQ(boxes.shown,
              QStringList{"Please specify the file name where results are to be stored."});

    dialog.rememberBox()->setChecked(false);
    EXPECT_FALSE(dialog.serverField()->isReadOnly());
    EXPECT_EQ(p.store.read(keys::kInfoRemember), "n");
    dialog.serverField()->clear();
    dialog.testButton()->click();
    EXPECT_EQ(boxes.shown.last(), "Please Enter server credentials");

    ui::RetrievalDialog subscribe(p.store, p.paths, RetrievalMode::Subscribe);
    subscribe.show();
    EXPECT_EQ(subscribe.windowTitle(), "Retrieve Subscribe Users");
    EXPECT_FALSE(subscribe.autoUnsubscribeBox()->isVisible());
    EXPECT_TRUE(subscribe.groupsField()->isVisible());
}

TEST(RetrievalScreen, TestConnectionKeepsTheScreenLiveAndStopEndsIt) {
    Profile p;
    using test::say;
    using test::want;
    struct Case {
        const char* name;
        std::vector<test::Pop3Step> script;
        bool pressStop;
        QStringList want;
    } cases[] = {
        {"server answers",
         {say("+OK\r\n"), want("USER u\r\n"), say("+OK\r\n"), want("PASS p\r\n"), say("+OK\r\n"),
          want("QUIT\r\n"), say("+OK\r\n")},
         false,
         {"Connection successful"}},
        // A server that never answers: the screen stays live, and Stop ends the wait at once,
        // long before the client's time-out, with nothing to report.
        {"silent server, Stop", {test::silence()}, true, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakePop3Server server(c.script);
        RecordedBoxes boxes;
        ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Unsubscribe);
        dialog.userField()->setText("u");
        dialog.passwordField()->setText("p");
        dialog.serverField()->setText("127.0.0.1");
        dialog.portField()->setValue(server.port());
        dialog.testButton()->click();
        EXPECT_TRUE(dialog.testing());
        EXPECT_FALSE(dialog.testButton()->isEnabled());
        EXPECT_FALSE(dialog.retrieveButton()->isEnabled());
        EXPECT_TRUE(dialog.stopButton()->isEnabled());
        EXPECT_FALSE(dialog.statusLine()->text().isEmpty());
        if (c.pressStop) {
            dialog.show();
            QTest::qWait(200);
            EXPECT_TRUE(dialog.testing());
            test::screenshot(&dialog, "retrieval_testing_connection");
            dialog.stopButton()->click();
        }
        ASSERT_TRUE(test::waitFor([&] { return !dialog.testing(); }));
        EXPECT_EQ(boxes.shown, c.want);
        EXPECT_TRUE(dialog.testButton()->isEnabled());
        EXPECT_FALSE(dialog.stopButton()->isEnabled());
        EXPECT_TRUE(dialog.statusLine()->text().isEmpty());
    }
}

TEST(RetrievalScreen, AutoUnsubscribeOffAsksFirst) {
    Profile p;
    ASSERT_TRUE(p.store.writeFlag(keys::kAutoUnsubscribe, true));
    RecordedBoxes boxes;
    ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Unsubscribe);
    dialog.show();
    boxes.answers = {false};
    dialog.autoUnsubscribeBox()->click();
    EXPECT_TRUE(dialog.autoUnsubscribeBox()->isChecked());
    EXPECT_EQ(p.store.read(keys::kAutoUnsubscribe), "y");
    boxes.answers = {true};
    dialog.autoUnsubscribeBox()->click();
    EXPECT_FALSE(dialog.autoUnsubscribe());
    EXPECT_EQ(p.store.read(keys::kAutoUnsubscribe), "n");
    EXPECT_EQ(boxes.asked.size(), 2);
}

TEST(RetrievalScreen, RetrieveFillsTheListAndTheFiles) {
    Profile p;
    using test::say;
    using test::want;
    test::FakePop3Server server(
        {say("+OK\r\n"), want("USER u\r\n"), say("+OK\r\n"), want("PASS p\r\n"), say("+OK\r\n"),
         want("STAT\r\n"), say("+OK 1 50\r\n"), want("RETR 1\r\n"),
         say("+OK\r\nFrom: a@x.test\r\nTo: t\r\nDate: d\r\nSubject: Unsubscribe-G\r\n\r\n.\r\n"),
         want("QUIT\r\n"), say("+OK\r\n")});
    RecordedBoxes boxes;
    ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Unsubscribe);
    dialog.userField()->setText(" u ");
    dialog.passwordField()->setText("p");
    dialog.serverField()->setText("127.0.0.1");
    dialog.portField()->setValue(server.port());
    dialog.outputField()->setText(QString::fromStdString(p.fresh.dir.file("out.txt")));
    ASSERT_TRUE(dialog.startRetrieval());
    EXPECT_FALSE(dialog.retrieveButton()->isEnabled());
    EXPECT_TRUE(dialog.stopButton()->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return !dialog.running(); }));
    EXPECT_EQ(boxes.shown, QStringList{"Email addresses has been successfully retrieved."});
    ASSERT_EQ(dialog.list()->count(), 1);
    EXPECT_EQ(dialog.list()->item(0)->text(), "a@x.test");
    EXPECT_TRUE(dialog.retrieveButton()->isEnabled());
    EXPECT_EQ(p.fresh.dir.read("out.txt"), "a@x.test\r\n");
    EXPECT_EQ(p.fresh.dir.read("home/GroupUnsubscribers/_G.sbz"), "a@x.test\r\n");
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
}

TEST(ChangePasswordScreen, ChecksTheOldPasswordAndStoresTheNew) {
    Profile p;
    ASSERT_TRUE(p.store.write(keys::kInfoPass, scramblePassword("old", 3)));
    RecordedBoxes boxes;
    ui::ChangePasswordDialog dialog(p.store);
    EXPECT_EQ(dialog.windowTitle(), "Change Username/Password ");
    dialog.userField()->setText("me@example.org");
    dialog.oldPasswordField()->setText("bad");
    dialog.changeButton()->click();
    EXPECT_EQ(boxes.shown.last(), "Your old password is not correct.");
    dialog.oldPasswordField()->setText("old");
    dialog.newPasswordField()->setText("new");
    dialog.confirmField()->setText("other");
    dialog.changeButton()->click();
    EXPECT_EQ(boxes.shown.last(), "Your new password do not match with the conforming password.");
    EXPECT_TRUE(dialog.confirmField()->text().isEmpty());
    dialog.confirmField()->setText("new");
    dialog.changeButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(unscramblePassword(p.store.read(keys::kInfoPass)), "new");
    EXPECT_EQ(p.store.read(keys::kInfoId), "me@example.org");
}

TEST(FilterScreen, FiltersTheCheckedGroups) {
    Profile p;
    p.fresh.dir.write("home/GroupRecipients/_A.sbz",
                      "a@x.com,,,,,,,,,,,,,E\r\nb@x.com,,,,,,,,,,,,,E\r\n");
    p.fresh.dir.write("home/GroupRecipients/_B.sbz", "a@x.com,,,,,,,,,,,,,E\r\n");
    p.fresh.dir.write("unsub.txt", "A@X.COM\r\n");
    RecordedBoxes boxes;
    ui::UnsubscriberFilterDialog dialog(p.paths, ui::FilterMode::Filter);
    ASSERT_EQ(dialog.groupList()->count(), 2);
    EXPECT_FALSE(dialog.start());
    EXPECT_EQ(boxes.shown.last(), "Please select group(s).");
    dialog.groupList()->item(0)->setCheckState(Qt::Checked);
    EXPECT_FALSE(dialog.start());
    EXPECT_EQ(boxes.shown.last(), "Please select a file containing unsubscribed users.");
    dialog.fileField()->setText(QString::fromStdString(p.fresh.dir.file("unsub.txt")));
    ASSERT_TRUE(dialog.start());
    ASSERT_TRUE(test::waitFor([&] { return !dialog.running(); }));
    EXPECT_EQ(boxes.shown.last(), "Filtering has been completed successfully.");
    EXPECT_EQ(p.fresh.dir.read("home/GroupRecipients/_A.sbz"),
              "a@x.com,,,,,,,,,,,,,U\r\nb@x.com,,,,,,,,,,,,,E\r\n");
    EXPECT_EQ(p.fresh.dir.read("home/GroupRecipients/_B.sbz"), "a@x.com,,,,,,,,,,,,,E\r\n");

    ui::UnsubscriberFilterDialog save(p.paths, ui::FilterMode::Save);
    EXPECT_EQ(save.windowTitle(), "Save Unsubscribed Users");
    EXPECT_EQ(save.startButton()->text(), "&Save");
}

TEST(SubscriptionScreens, Screenshots) {
    if (qEnvironmentVariable("QUILLMARK_SCREENSHOTS").isEmpty()) GTEST_SKIP();
    Profile p;
    p.fresh.dir.write("home/GroupRecipients/_Customers.sbz", "");
    p.fresh.dir.write("home/GroupRecipients/_Newsletter.sbz", "");
    {
        ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Unsubscribe);
        dialog.userField()->setText("unsubscribe@example.org");
        dialog.passwordField()->setText("secret");
        dialog.serverField()->setText("pop.example.org");
        dialog.outputField()->setText("/home/ann/unsubscribers.txt");
        dialog.list()->addItems({"jane.doe@example.org", "bob@example.com"});
        dialog.statusLine()->setText("Retrieving Emails: 50% Done");
        dialog.show();
        test::screenshot(&dialog, "retrieve-unsubscribe");
    }
    {
        ui::RetrievalDialog dialog(p.store, p.paths, RetrievalMode::Subscribe);
        dialog.groupsField()->setText("Customers;Newsletter;");
        dialog.securityField()->setCurrentIndex(2);
        dialog.show();
        test::screenshot(&dialog, "retrieve-subscribe");
    }
    {
        ui::ChangePasswordDialog dialog(p.store);
        dialog.show();
        test::screenshot(&dialog, "change-password");
    }
    for (auto mode : {ui::FilterMode::Filter, ui::FilterMode::Save}) {
        ui::UnsubscriberFilterDialog dialog(p.paths, mode);
        dialog.groupList()->item(0)->setCheckState(Qt::Checked);
        dialog.show();
        test::screenshot(
            &dialog, mode == ui::FilterMode::Filter ? "filter-unsubscribers" : "save-unsubscribed");
    }
}

}  // namespace
}  // namespace qm
