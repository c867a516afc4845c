// The campaign message checks, the attachment list and personalisation.
#include <gtest/gtest.h>

#include "message/attachment_list.h"
#include "message/campaign_message.h"
#include "message/dynamic_variables.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

CampaignMessage validMessage() {
    CampaignMessage m;
    m.senderName = "Ann Smith";
    m.senderAddress = "ann@example.com";
    m.subject = "Spring offer";
    m.htmlText = "<HTML><BODY>Hello</BODY></HTML>";
    return m;
}

TEST(CheckMessage, FieldChecksInOrder) {
    struct {
        const char* name;
        void (*change)(CampaignMessage&);
        std::string_view message;
        MessageField focus;
    } cases[] = {
        {"valid", [](CampaignMessage&) {}, "", MessageField::None},
        {"name of letters and a blank, trimmed",
         [](CampaignMessage& m) { m.senderName = "  Ann B  "; }, "", MessageField::None},
        {"name of blanks only", [](CampaignMessage& m) { m.senderName = "   "; },
         kMsgEnterSenderName, MessageField::SenderName},
        {"full stop in name", [](CampaignMessage& m) { m.senderName = "Ann S."; },
         kMsgSenderNameSpecial, MessageField::SenderName},
        {"digit in name", [](CampaignMessage& m) { m.senderName = "Ann2"; }, kMsgSenderNameSpecial,
         MessageField::SenderName},
        {"underscore in name", [](CampaignMessage& m) { m.senderName = "Ann_B"; },
         kMsgSenderNameSpecial, MessageField::SenderName},
        {"name is checked before the address",
         [](CampaignMessage& m) {
             m.senderName = "";
             m.senderAddress = "";
         },
         kMsgEnterSenderName, MessageField::SenderName},
        {"empty address", [](CampaignMessage& m) { m.senderAddress = " "; }, kMsgEnterSenderAddress,
         MessageField::SenderAddress},
        {"invalid address", [](CampaignMessage& m) { m.senderAddress = "ann@"; },
         kMsgInvalidSenderAddress, MessageField::SenderAddress},
        {"empty subject", [](CampaignMessage& m) { m.subject = " \t"; }, kMsgSubjectEmpty,
         MessageField::Subject},
    };
    for (const auto& c : cases) {
        CampaignMessage m = validMessage();
        c.change(m);
        CheckResult r = checkMessage(m, false, {});
        EXPECT_EQ(r.ok, c.message.empty()) << c.name;
        EXPECT_EQ(r.message, c.message) << c.name;
        EXPECT_EQ(r.focus, c.focus) << c.name;
    }
    CampaignMessage m = validMessage();
    m.senderName = "  Ann B  ";
    checkMessage(m, false, {});
    EXPECT_EQ(m.senderName, "Ann B");
}

TEST(CheckMessage, BodyDerivation) {
    test::TempDir dir;
    dir.write("page.htm", "  <html>generated</html>\r\n");
    struct {
        const char* name;
        MessageFormat format;
        std::string html, plain;
        bool generated;
        std::string want;
    } cases[] = {
        {"text after the first closing tag is not sent", MessageFormat::Html,
         "<HTML>a</HTML>tail</HTML>", "", false, "<HTML>a</HTML>"},
        {"lower-case closing tag", MessageFormat::Html, "<html>a</html>tail", "", false,
         "<html>a</html>"},
        {"no closing tag: kept whole, trimmed", MessageFormat::Html, "\r\n<p>a</p> ", "", false,
         "<p>a</p>"},
        {"plain text", MessageFormat::PlainText, "<HTML>x</HTML>", " Hi\r\n", false, "Hi"},
        {"generated page read from its file", MessageFormat::Html, "<HTML>editor</HTML>", "", true,
         "<html>generated</html>"},
    };
    for (const auto& c : cases) {
        CampaignMessage m = validMessage();
        m.format = c.format;
        m.htmlText = c.html;
        m.plainText = c.plain;
        m.generatedPage = c.generated;
        m.webPagePath = dir.file("page.htm");
        ASSERT_TRUE(checkMessage(m, false, {}).ok) << c.name;
        EXPECT_EQ(m.body, c.want) << c.name;
    }
}

TEST(CheckMessage, EmptyBodyQuestionAndHooks) {
    std::string asked;
    MessageCheckHooks no;
    no.confirm = [&](std::string_view q) {
        asked = q;
        return false;
    };
    CampaignMessage blank = validMessage();
    blank.htmlText = std::string(kBlankDocument);
    CheckResult r = checkMessage(blank, false, no);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.focus, MessageField::MessageTab);
    EXPECT_EQ(asked, kAskSendEmpty);
    checkMessage(blank, true, no);
    EXPECT_EQ(asked, kAskSpamCheckEmpty);

    CampaignMessage blanks = validMessage();
    blanks.format = MessageFormat::PlainText;
    blanks.plainText = "   ";
    asked.clear();
    checkMessage(blanks, false, no);
    EXPECT_EQ(asked, kAskSendEmpty);

    // Delivery settings, then (not for a spam check) the start time.
    int startChecks = 0;
    MessageCheckHooks hooks;
    hooks.checkDelivery = [] {
        return CheckResult{false, "relay missing", MessageField::DeliverySettings};
    };
    hooks.startTimeValid = [&] {
        ++startChecks;
        return false;
    };
    CampaignMessage m = validMessage();
    r = checkMessage(m, false, hooks);
    EXPECT_EQ(r.message, "relay missing");
    EXPECT_EQ(startChecks, 0);
    hooks.checkDelivery = nullptr;
    EXPECT_TRUE(checkMessage(m, true, hooks).ok);
    EXPECT_EQ(startChecks, 0);
    r = checkMessage(m, false, hooks);
    EXPECT_EQ(r.message, kMsgInvalidStartTime);
    EXPECT_EQ(r.focus, MessageField::StartTime);
}

TEST(Preview, TextAndTarget) {
    EXPECT_EQ(previewText("  <HTML>x</HTML> after"), "<HTML>x</HTML>");
    EXPECT_EQ(previewText(" \r\n"), "<body bgcolor=\"WHITE\"></body>");
    CampaignMessage m;
    EXPECT_EQ(previewFilePath(m, "/prog"), "/prog/temp.htm");
    m.pageInserted = true;
    m.webPagePath = "/site/pages/index.htm";
    EXPECT_EQ(previewFilePath(m, "/prog"), "/site/pages/temp.htm");
}

TEST(AttachmentList, SizeLimitNamesAndRemoval) {
    test::TempDir dir;
    dir.write("a.bin", std::string(2097152 - 10, 'a'));
    dir.write("b.bin", std::string(10, 'b'));
    dir.write("c.bin", std::string(1, 'c'));
    dir.write("empty.bin", "");
    test::TempDir other;
    other.write("b.bin", std::string(5, 'x'));

    AttachmentList list;
    // Exactly 2,097,152 bytes fit; the same name from another folder and an empty file are skipped.
    EXPECT_EQ(list.addFiles({dir.file("a.bin"), dir.file("empty.bin"), dir.file("missing.bin"),
                             dir.file("b.bin"), other.file("b.bin")}),
              "");
    EXPECT_EQ(list.names(), (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_EQ(list.totalSize(), 2097152u);
    EXPECT_EQ(list.embedded(), "nn");
    // One byte more: the message, the total as before, and the files after it not added.
    list.removeAt(1);
    list.addFiles({dir.file("c.bin")});
    EXPECT_EQ(list.addFiles({dir.file("b.bin"), dir.file("c.bin")}), kMsgAttachmentsTooLarge);
    EXPECT_EQ(list.totalSize(), 2097152u - 10 + 1);
    EXPECT_EQ(list.names(), (std::vector<std::string>{"a.bin", "c.bin"}));

    EXPECT_EQ(list.removeAt(std::nullopt), kMsgSelectAttachment);
    // The size counted at adding is taken off, even when the file changed since.
    dir.write("a.bin", "now short");
    EXPECT_EQ(list.removeAt(0), "");
    EXPECT_EQ(list.totalSize(), 1u);
    list.clear();
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.totalSize(), 0u);
}

TEST(Personalise, Cases) {
    Recipient r;
    r.email = "bob@x.com";
    r.name = "Bob";
    r.company = "Acme [**CITY**]";
    r.city = "Oslo";
    r.state = "[**USER**]";
    r.address1 = escapeAddress("12, Main St 10%");
    r.country = "Korea\xB8 Republic of";
    r.zip = "0150";
    r.fax = "Bj\xC3\xB8rn";
    struct {
        const char* name;
        std::string body, want;
    } cases[] = {
        {"empty field leaves the blanks", "Dear [**TITLE**] friend", "Dear  friend"},
        {"every occurrence", "[**EMAIL**] [**EMAIL**] [**EMAIL**]",
         "bob@x.com bob@x.com bob@x.com"},
        {"exact tokens only", "[**user**] [** USER **] [**USER**]", "[**user**] [** USER **] Bob"},
        {"addresses unescaped", "[**ADDRESS1**]", "12, Main St 10%"},
        {"a later token inside a value is replaced", "[**COMPANY**]", "Acme Oslo"},
        {"an earlier token inside a value stays", "[**STATE**]", "[**USER**]"},
        {"the comma stand-in is sent as a comma", "[**COUNTRY**]|[**ZIPCODE**]",
         "Korea, Republic of|0150"},
        {"a UTF-8 letter holding the stand-in byte stays", "[**FAX**]", "Bj\xC3\xB8rn"},
    };
    for (const auto& c : cases) EXPECT_EQ(personalise(c.body, r), c.want) << c.name;
    EXPECT_EQ(personalise("Hi [**USER**] <[**EMAIL**]>", "carol@x.com"), "Hi  <carol@x.com>");
}

TEST(Personalise, ChainedValuesCannotGrowWithoutBound) {
    // Each value holds the next token eight times: unbounded, the text would grow 8^12-fold.
    Recipient r;
    std::string* fields[] = {&r.name,      &r.title,  &r.company, &r.address1, &r.address2,
                             &r.city,      &r.state,  &r.zip,     &r.country,  &r.email,
                             &r.telephone, &r.mobile, &r.fax};
    for (std::size_t i = 0; i + 1 < kDynamicVariables.size(); ++i)
        for (int k = 0; k < 8; ++k) *fields[i] += kDynamicVariables[i + 1].token;
    std::string out = personalise("[**USER**]", r);
    EXPECT_LE(out.size(), kMaxPersonalisedBytes);
}

}  // namespace
}  // namespace qm
