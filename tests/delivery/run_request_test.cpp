// The run request that Send (window and command line) hands the engine: the groups text rule, the
// typed recipients, the order of the checks, and what goes with the request.
#include "delivery/run_request.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "delivery/test_campaign.h"
#include "groups/address.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using Names = std::vector<std::string>;

struct Fixture {
    test::TempDir dir;
    SettingsStore settings{dir.file("settings.ini")};

    static RunFields fields(std::string recipients, std::string groups) {
        RunFields f;
        f.message.senderName = "Ann Example";
        f.message.senderAddress = "ann@example.com";
        f.message.subject = "Spring offers";
        f.message.format = MessageFormat::PlainText;
        f.message.plainText = "Hello.";
        f.recipientsText = std::move(recipients);
        f.groupsText = std::move(groups);
        return f;
    }
};

TEST(RunRequest, GroupsTextAndTypedRecipients) {
    struct Case {
        const char* name;
        std::string recipients, groups;
        Names typed, wantGroups;
        std::string unfinished;  // text after the last ";"
        std::string_view refusal;
    };
    const Case cases[] = {
        {"names each ending in ';'", "", "Friends;Work;", {}, {"Friends", "Work"}, "", ""},
        {"a last name without ';' is not a group", "", "Friends;Work", {}, {"Friends"}, "Work", ""},
        {"one name without ';' leaves nobody", "", "Work", {}, {}, "Work", kMsgNoValidAddress},
        {"blank entries are dropped", "", ";Friends;; ;\t;", {}, {"Friends"}, "", ""},
        {"blanks around a name are not part of it",
         "",
         " Friends ;Work ;",
         {},
         {"Friends", "Work"},
         "",
         ""},
        {"a repeated group is sent once, at its first place",
         "",
         "Work;Friends;Work;",
         {},
         {"Work", "Friends"},
         "",
         ""},
        {"names differing in case are different groups",
         "",
         "work;Work;",
         {},
         {"work", "Work"},
         "",
         ""},
        {"typed only, newest first",
         "bob@example.com; carol@example.com",
         "",
         {"carol@example.com", "bob@example.com"},
         {},
         "",
         ""},
        {"typed duplicates in another case and invalid entries dropped",
         "bob@example.com, BOB@example.com, not-an-address; ,",
         "",
         {"bob@example.com"},
         {},
         "",
         ""},
        {"spaces do not separate typed addresses",
         "a@example.com b@example.com",
         "",
         {},
         {},
         "",
         kMsgNoValidAddress},
        {"typed and groups together",
         "bob@example.com",
         "Friends;",
         {"bob@example.com"},
         {"Friends"},
         "",
         ""},
        {"nothing at all", "", "", {}, {}, "", kMsgNoValidAddress},
    };
    for (const Case& c : cases) {
        Fixture fx;
        RunBuild got = buildRunRequest(Fixture::fields(c.recipients, c.groups), fx.settings);
        EXPECT_EQ(got.check.ok, c.refusal.empty()) << c.name;
        EXPECT_EQ(got.check.message, c.refusal) << c.name;
        EXPECT_EQ(got.request.typed, c.typed) << c.name;
        EXPECT_EQ(got.request.groups, c.wantGroups) << c.name;
        EXPECT_EQ(got.unfinishedGroup, c.unfinished) << c.name;
    }
}

TEST(RunRequest, TestCampaignTakesTheTypedAddressesOnly) {
    Fixture fx;
    RunFields f = Fixture::fields("t1@example.com", "Friends;");
    f.testCampaign = true;
    RunBuild got = buildRunRequest(f, fx.settings);
    ASSERT_TRUE(got.check.ok) << got.check.message;
    EXPECT_EQ(got.request.typed, Names{"t1@example.com"});
    EXPECT_TRUE(got.request.groups.empty());

    f.recipientsText = "not an address";
    got = buildRunRequest(f, fx.settings);
    EXPECT_EQ(got.check.message, kMsgNoTestAddress);
}

// The message and delivery checks come before the recipients are looked at; the trimmed fields
// come back either way, for the window to show.
TEST(RunRequest, ChecksRunInOrderAndReturnTheTrimmedMessage) {
    Fixture fx;
    RunFields f = Fixture::fields("", "");
    f.message.senderName = "  Ann Example ";
    f.message.subject = " ";
    RunBuild got = buildRunRequest(f, fx.settings);
    EXPECT_EQ(got.check.message, kMsgSubjectEmpty)
        << "the message check outranks nobody to send to";
    EXPECT_EQ(got.check.focus, MessageField::Subject);
    EXPECT_EQ(got.request.message.senderName, "Ann Example");

    f = Fixture::fields("bob@example.com", "");
    f.delivery.mxMode = false;
    f.delivery.server = "   ";
    got = buildRunRequest(f, fx.settings);
    EXPECT_EQ(got.check.message, kMsgEnterMailServer);
    EXPECT_EQ(got.check.focus, MessageField::DeliverySettings);

    f.delivery.server = " relay.example.com ";
    f.message.plainText.clear();
    int asked = 0;
    RunRequestHooks hooks;
    hooks.confirm = [&](std::string_view q) {
        ++asked;
        EXPECT_EQ(q, kAskSendEmpty);
        return false;
    };
    got = buildRunRequest(f, fx.settings, hooks);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(got.check.ok);
    EXPECT_EQ(got.check.message, "") << "a declined question shows nothing more";
    EXPECT_EQ(got.check.focus, MessageField::MessageTab);

    hooks.confirm = [](std::string_view) { return true; };
    got = buildRunRequest(f, fx.settings, hooks);
    ASSERT_TRUE(got.check.ok) << got.check.message;
    EXPECT_EQ(got.request.delivery.server, "relay.example.com");
    EXPECT_FALSE(got.request.delivery.mxMode);
}

TEST(RunRequest, TooManyTypedAddressesIsANoteNotARefusal) {
    Fixture fx;
    std::string box;
    for (std::size_t i = 0; i <= kMaxTypedAddresses; ++i)
        box += "u" + std::to_string(i) + "@example.com;";
    std::vector<std::string> notes;
    RunRequestHooks hooks;
    hooks.note = [&](std::string_view text) { notes.emplace_back(text); };
    RunBuild got = buildRunRequest(Fixture::fields(box, ""), fx.settings, hooks);
    ASSERT_TRUE(got.check.ok) << got.check.message;
    EXPECT_EQ(notes, Names{std::string(kMsgTooManyAddresses)});
    EXPECT_EQ(got.request.typed.size(), kMaxTypedAddresses);
}

TEST(RunRequest, CarriesTheInlinePicturesAndTheStoredFlags) {
    Fixture fx;
    fx.dir.write("logo.png", "picture bytes");
    fx.dir.write("terms.txt", "terms");
    ASSERT_TRUE(fx.settings.writeFlag(keys::kAutoUnsubscribe, true));
    ASSERT_TRUE(fx.settings.writeFlag(keys::kMxStartTls, false));
    RunFields f = Fixture::fields("bob@example.com", "");
    f.message.format = MessageFormat::Html;
    f.message.htmlText = "<html><body><img src=\"file:///x/logo.png\"></body></html>";
    ASSERT_EQ(f.message.attachments.addFiles({fx.dir.file("logo.png"), fx.dir.file("terms.txt")}),
              "");
    f.message.attachments.setEmbedded(1);  // left over from an earlier run
    RunBuild got = buildRunRequest(f, fx.settings);
    ASSERT_TRUE(got.check.ok) << got.check.message;
    EXPECT_TRUE(got.request.message.attachments.isEmbedded(0));
    EXPECT_FALSE(got.request.message.attachments.isEmbedded(1));
    EXPECT_NE(got.request.message.body.find("cid:logo.png"), std::string::npos);
    EXPECT_TRUE(got.request.autoUnsubscribe);
    EXPECT_FALSE(got.request.mxStartTls);
}

}  // namespace
}  // namespace qm
