// The settings tab and the dialogs, each on its own.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include "app/ui/reminder_dialog.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/ui/sender_auth_box.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "delivery/ui/test_campaign_dialog.h"
#include "groups/ui/select_groups_dialog.h"
#include "message/ui/html_page_dialog.h"
#include "message/ui/unsubscribe_dialog.h"
#include "message/ui/variable_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

void typeInto(QSpinBox* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
}

TEST(SettingsTab, TypedCountsOutOfRangeShowTheRangeAndBecomeOne) {
    struct Case {
        bool threads;
        const char* typed;
        const char* message;
    } cases[] = {
        {true, "20", "Please enter an integer between 1 and 15."},
        {false, "9", "Please enter an integer between 0 and 5."},
    };
    for (const auto& c : cases) {
        RecordedBoxes boxes;
        ui::SmtpSettingsTab tab;
        tab.show();
        QSpinBox* box = c.threads ? tab.threadsField() : tab.waitField();
        typeInto(box, c.typed);
        EXPECT_EQ(boxes.shown, QStringList{c.message}) << c.typed;
        EXPECT_EQ(box->value(), 1) << c.typed;
    }
    RecordedBoxes boxes;
    ui::SmtpSettingsTab tab;
    tab.show();
    typeInto(tab.threadsField(), "15");
    typeInto(tab.waitField(), "0");
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
    EXPECT_EQ(tab.settings().threadCount, 15);
    EXPECT_EQ(tab.settings().waitSeconds, 0);
}

// The Send command reads the count from the tab: what load() shows is what settings() gives, in
// the range the engine accepts.
TEST(SettingsTab, MessagesPerConnectionShownAndReturned) {
    ui::SmtpSettingsTab tab;
    tab.show();
    EXPECT_EQ(tab.settings().perConnection, 1) << "one connection per recipient by default";
    EXPECT_EQ(tab.perConnectionField()->minimum(), kMinPerConnection);
    EXPECT_EQ(tab.perConnectionField()->maximum(), kMaxPerConnection);
    DeliverySettings s;
    s.perConnection = 100;
    tab.load(s);
    EXPECT_EQ(tab.perConnectionField()->value(), 100);
    EXPECT_EQ(tab.settings().perConnection, 100);
    test::screenshot(&tab, "smtp-settings-per-connection");
}

TEST(SettingsTab, MxModeDisablesTheServerFields) {
    ui::SmtpSettingsTab tab;
    tab.show();
    tab.smtpModeButton()->click();
    tab.authRequiredButton()->click();
    EXPECT_TRUE(tab.serverField()->isEnabled());
    EXPECT_TRUE(tab.portField()->isEnabled());
    EXPECT_TRUE(tab.authRequiredButton()->isEnabled());
    tab.mxModeButton()->click();
    EXPECT_FALSE(tab.serverField()->isEnabled());
    EXPECT_FALSE(tab.portField()->isEnabled());
    EXPECT_FALSE(tab.securityField()->isEnabled());
    EXPECT_FALSE(tab.authRequiredButton()->isEnabled());
    EXPECT_TRUE(tab.settings().mxMode);
    test::screenshot(&tab, "smtp-settings-mx");
}

TEST(SettingsTab, PortFollowsSecurityUntilTyped) {
    ui::SmtpSettingsTab tab;
    tab.show();
    tab.smtpModeButton()->click();
    tab.securityField()->setCurrentIndex(1);
    EXPECT_EQ(tab.portField()->text(), "587");
    tab.securityField()->setCurrentIndex(2);
    EXPECT_EQ(tab.portField()->text(), "465");
    tab.portField()->clear();
    QTest::keyClicks(tab.portField(), "2525");
    tab.securityField()->setCurrentIndex(0);
    EXPECT_EQ(tab.portField()->text(), "2525");
    test::screenshot(&tab, "smtp-settings-relay");
}

TEST(SettingsTab, SenderAuthenticationShowsWhatItLoadedAndGivesItBack) {
    ui::SmtpSettingsTab tab;
    tab.show();
    for (DkimAlgorithm a : {DkimAlgorithm::Ed25519, DkimAlgorithm::Rsa}) {
        DkimSettings in{"example.com", "mail2026", "/home/ann/dkim.pem", a};
        tab.senderAuth()->load(in);
        DkimSettings out = tab.senderAuth()->settings();
        EXPECT_EQ(out.domain, in.domain);
        EXPECT_EQ(out.selector, in.selector);
        EXPECT_EQ(out.keyFile, in.keyFile);
        EXPECT_EQ(out.algorithm, a);
    }
    // No sender domain (relay mode, or nothing typed yet): no warnings, no lookup.
    tab.senderAuth()->checkSenderDomain("");
    EXPECT_TRUE(tab.senderAuth()->warningsLabel()->isHidden());
    tab.accountTabs()->setCurrentWidget(tab.senderAuth());
    test::screenshot(&tab, "smtp-settings-sender-auth");
}

TEST(Dialogs, UnsubscribeAddressIsCheckedBeforeItIsTaken) {
    RecordedBoxes boxes;
    ui::UnsubscribeDialog dialog("", true);
    dialog.show();
    auto* add = dialog.findChild<QPushButton*>();
    ASSERT_EQ(add->text(), "&Add");
    add->click();
    dialog.addressField()->setText("not an address");
    add->click();
    EXPECT_EQ(boxes.shown, (QStringList{"The email address must be filled up.",
                                        "The email address entered is invalid."}));
    EXPECT_TRUE(dialog.isVisible());
    dialog.addressField()->setText("leave@example.com");
    test::screenshot(&dialog, "dialog-unsubscribe");
    add->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.address(), "leave@example.com");
}

TEST(Dialogs, UnsubscribeUrlMustBeHttps) {
    RecordedBoxes boxes;
    ui::UnsubscribeDialog dialog("leave@example.com", true);
    dialog.setUrl("http://example.com/u?e=[**EMAIL**]");
    dialog.show();
    auto* add = dialog.findChild<QPushButton*>();
    add->click();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.first().contains("https://")) << boxes.shown.first().toStdString();
    EXPECT_TRUE(dialog.isVisible());
    dialog.urlField()->setText(" https://example.com/u?e=[**EMAIL**]&g=[**GROUP**] ");
    test::screenshot(&dialog, "dialog-unsubscribe-url");
    add->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.url(), "https://example.com/u?e=[**EMAIL**]&g=[**GROUP**]");
}

TEST(Screens, SmtpSettingsTabShowsTheTextPartChoice) {
    ui::SmtpSettingsTab tab;
    EXPECT_EQ(tab.textPart(), TextPartStyle::HtmlSource) << "the default";
    EXPECT_EQ(tab.textPartField()->currentText(), "HTML source");
    tab.setTextPart(TextPartStyle::Readable);
    EXPECT_EQ(tab.textPartField()->currentText(), "Readable text");
    tab.textPartField()->setCurrentIndex(0);
    EXPECT_EQ(tab.textPart(), TextPartStyle::HtmlSource);
}

// The profile switch moves the fields it decides, the note names what it set and forgets what
// the user changed afterwards, and switching off puts back only what it set.
TEST(SettingsTab, BulkSenderProfileSetsItsOptionsAndSaysWhich) {
    ui::SmtpSettingsTab tab;
    tab.resize(800, 520);
    tab.show();
    tab.setTextPart(TextPartStyle::Readable);  // chosen before the profile: not the profile's
    tab.loadProfile({}, false, FooterMarkup::Classic);
    tab.accountTabs()->setCurrentIndex(2);
    EXPECT_FALSE(tab.checkDomainButton()->isVisible());
    tab.profileField()->click();
    EXPECT_EQ(tab.textPartField()->currentText(), "Readable text");
    EXPECT_EQ(tab.mxOrderField()->currentText(), "By preference");
    EXPECT_TRUE(tab.listIdField()->isChecked());
    EXPECT_TRUE(tab.footerMarkupField()->isChecked());
    EXPECT_EQ(tab.profileNote()->text(),
              "Set by the profile: List-Id, MX by preference, lower-case footer.");
    EXPECT_TRUE(tab.checkDomainButton()->isVisible());
    EXPECT_EQ(tab.profileState().profile, SenderProfile::Current);
    test::screenshot(&tab, "smtp-settings-bulk-sending");

    tab.footerMarkupField()->click();  // the user's own choice from now on
    EXPECT_EQ(tab.profileNote()->text(), "Set by the profile: List-Id, MX by preference.");
    int offered = 0;
    QObject::connect(&tab, &ui::SmtpSettingsTab::checkDomainRequested, [&offered] { ++offered; });
    tab.checkDomainButton()->click();
    EXPECT_EQ(offered, 1);

    tab.profileField()->click();
    EXPECT_EQ(tab.textPartField()->currentText(), "Readable text");
    EXPECT_EQ(tab.mxOrderField()->currentText(), "As answered");
    EXPECT_FALSE(tab.listIdField()->isChecked());
    EXPECT_FALSE(tab.footerMarkupField()->isChecked());
    EXPECT_FALSE(tab.checkDomainButton()->isVisible());
    EXPECT_EQ(tab.profileState().profile, SenderProfile::AsSpecified);
    EXPECT_TRUE(tab.profileState().changed.empty());
}

// "Password" or "OAuth 2 token command": the row shows the one chosen, and the choice and the
// command come back with the settings.
TEST(SettingsTab, RelayLoginByPasswordOrTokenCommand) {
    ui::SmtpSettingsTab tab;
    tab.resize(800, 520);
    tab.show();
    DeliverySettings in;
    in.mxMode = false;
    in.server = "smtp.example.com";
    in.authenticate = true;
    in.userName = "ann@example.com";
    in.login = RelayLogin::OAuthCommand;
    in.tokenCommand = "oauth2-helper --account ann";
    tab.load(in);
    EXPECT_TRUE(tab.tokenCommandField()->isVisible());
    EXPECT_TRUE(tab.tokenCommandField()->isEnabled());
    EXPECT_EQ(tab.loginField()->currentText(), "OAuth 2 token command");
    DeliverySettings out = tab.settings();
    EXPECT_EQ(out.login, RelayLogin::OAuthCommand);
    EXPECT_EQ(out.tokenCommand, in.tokenCommand);
    test::screenshot(&tab, "smtp-settings-oauth-login");
    tab.loginField()->setCurrentIndex(0);
    EXPECT_FALSE(tab.tokenCommandField()->isVisible());
    EXPECT_EQ(tab.settings().login, RelayLogin::Password);
}

TEST(Dialogs, CreateHtmlPageClearAsksOnlyWhenThereIsText) {
    RecordedBoxes boxes;
    ui::HtmlPageDialog dialog;
    dialog.show();
    QPushButton* clear = nullptr;
    for (auto* b : dialog.findChildren<QPushButton*>())
        if (b->text() == "C&lear") clear = b;
    ASSERT_TRUE(clear);
    clear->click();
    EXPECT_EQ(boxes.shown, QStringList{"There is no text in the window."});
    dialog.field()->setPlainText("<p>Hello</p>");
    test::screenshot(&dialog, "dialog-create-html-page");
    boxes.answers = {false, true};
    clear->click();
    EXPECT_EQ(dialog.text(), "<p>Hello</p>") << "No keeps the text";
    clear->click();
    EXPECT_EQ(dialog.text(), "");
    EXPECT_EQ(boxes.asked.size(), 2);
    EXPECT_EQ(boxes.asked.first(), "Do you really want to clear the text?");
}

TEST(Dialogs, SelectGroupsStartsFromTheFieldAndEditsItsText) {
    test::FreshProfile profile;
    Paths paths = Paths::current(SettingsStore::open());
    paths.ensureFolders();
    for (const char* name : {"Customers", "Friends", "Best Friends"}) {
        QFile f(QString::fromStdString(paths.groupRecipients()) + "/_" + name + ".sbz");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ui::SelectGroupsDialog dialog(paths, "Best Friends;");
    dialog.show();
    ASSERT_EQ(dialog.list()->count(), 3);
    EXPECT_TRUE(dialog.groupManagementButton()->isEnabled());
    for (int i = 0; i < 3; ++i) {
        auto* item = dialog.list()->item(i);
        EXPECT_EQ(item->checkState() == Qt::Checked, item->text() == "Best Friends")
            << item->text().toStdString();
        if (item->text() == "Friends") item->setCheckState(Qt::Checked);
        if (item->text() == "Best Friends") item->setCheckState(Qt::Unchecked);
    }
    EXPECT_EQ(dialog.selection(), "Friends;");
    test::screenshot(&dialog, "dialog-select-groups");
}

TEST(Dialogs, VariableChooserListsTheTokensAndEscapeGivesNothing) {
    ui::VariableDialog dialog;
    ASSERT_EQ(dialog.list()->count(), 13);
    EXPECT_EQ(dialog.list()->item(0)->text(), "Name");
    EXPECT_EQ(dialog.list()->item(12)->text(), "Fax Number");
    EXPECT_EQ(dialog.token(), "[**USER**]");
    dialog.list()->setCurrentRow(9);
    EXPECT_EQ(dialog.token(), "[**EMAIL**]");
    dialog.show();
    test::screenshot(&dialog, "dialog-select-dynamic-variable");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.token(), "");
}

TEST(Dialogs, TestCampaignSendsOnlyThroughTheEngineCheck) {
    ui::TestCampaignDialog unwired(nullptr);
    EXPECT_FALSE(unwired.sendButton()->isEnabled());
    unwired.show();
    test::screenshot(&unwired, "dialog-test-campaign");

    RecordedBoxes boxes;
    ui::TestCampaignDialog wired([](const std::string& text) {
        return text.empty() ? std::string("Please enter at-least one e-mail address.")
                            : std::string();
    });
    wired.show();
    wired.sendButton()->click();
    EXPECT_EQ(boxes.shown, QStringList{"Please enter at-least one e-mail address."});
    wired.field()->setPlainText("a@example.com");
    wired.sendButton()->click();
    EXPECT_EQ(wired.result(), QDialog::Accepted);
}

TEST(Dialogs, ReminderWritesItsCheckBoxBack) {
    test::FreshProfile profile;
    SettingsStore store = SettingsStore::open();
    ui::ReminderDialog dialog(store);
    EXPECT_TRUE(dialog.showAgainBox()->isChecked()) << "absent setting means show";
    dialog.show();
    test::screenshot(&dialog, "dialog-reminder");
    dialog.showAgainBox()->setChecked(false);
    dialog.accept();
    EXPECT_EQ(store.read(keys::kShowReminder), "n");
}

}  // namespace
}  // namespace qm
