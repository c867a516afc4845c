// Inline-picture rewriting, the unsubscribe text and generated pages.
#include <gtest/gtest.h>

#include <set>

#include "common/text.h"
#include "message/html_tools.h"
#include "message/mime_part.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(RewriteInlineImages, Cases) {
    struct {
        const char* name;
        std::string body, want;
        bool embedded;
    } cases[] = {
        {"quoted full path", R"(<IMG src="C:\pics\logo.gif">)", R"(<IMG src="cid:logo.gif ">)",
         true},
        {"quoted URL path", R"(<img src="file:///home/a/logo.gif" alt=x>)",
         R"(<img src="cid:logo.gif " alt=x>)", true},
        {"unquoted value", "<img src=logo.gif>", "<img src=cid:logo.gif >", true},
        {"single quotes kept", "<img src='pics/logo.gif'>", "<img src='cid:logo.gif '>", true},
        {"bare name: no endless rewrite", R"(<img src="logo.gif">)", R"(<img src="cid:logo.gif ">)",
         true},
        {"every reference", R"(<img src="logo.gif"><td background="x/logo.gif">)",
         R"(<img src="cid:logo.gif "><td background="cid:logo.gif ">)", true},
        {"visible text is not a reference", "Our logo.gif file", "Our logo.gif file", false},
        {"outside any tag after a tag", "<b>x</b> logo.gif", "<b>x</b> logo.gif", false},
        {"tag with no equals sign", "<logo.gif>", "<logo.gif>", false},
        {"equals of an earlier tag not used", "<a href=x></a><p logo.gif>",
         "<a href=x></a><p logo.gif>", false},
        {"longer name is another file", R"(<img src="x/slogo.gif">)", R"(<img src="x/slogo.gif">)",
         false},
        {"name with a suffix is another file", R"(<img src="logo.gif.bak">)",
         R"(<img src="logo.gif.bak">)", false},
        {"unclosed tag", R"(<img src="logo.gif")", R"(<img src="logo.gif")", false},
        {"quote after the name belongs to another attribute", R"(<img src=logo.gif title="t">)",
         R"(<img src=cid:logo.gif  title="t">)", true},
    };
    test::TempDir dir;
    dir.write("logo.gif", "GIF89a");
    for (const auto& c : cases) {
        AttachmentList list;
        ASSERT_EQ(list.addFiles({dir.file("logo.gif")}), "");
        std::string body = c.body;
        rewriteInlineImages(body, list);
        EXPECT_EQ(body, c.want) << c.name;
        EXPECT_EQ(list.isEmbedded(0), c.embedded) << c.name;
    }
    // A name that is not safe in a Content-ID is referred to by its short form.
    dir.write("my pic.gif", "GIF89a");
    AttachmentList list;
    list.addFiles({dir.file("my pic.gif")});
    std::string body = R"(<img src="x/my pic.gif">)";
    rewriteInlineImages(body, list);
    const std::string id = contentIdsFor({"my pic.gif"})[0];
    EXPECT_EQ(body, R"(<img src="cid:)" + id + R"( ">)");
    EXPECT_EQ(id.rfind("my_pic-", 0), 0u) << id;
    EXPECT_EQ(id.substr(id.size() - 4), ".gif") << id;
}

// Several names at once: each reference names its own file, whatever the other names are.
TEST(RewriteInlineImages, SeveralNames) {
    struct {
        const char* name;
        std::vector<std::string> names;
        std::string body, want;
        std::vector<bool> referred;
    } cases[] = {
        {"a later name never matches the cid: text of an earlier one",
         {"a.jpg", "cid:a.jpg"},
         R"(<img src="a.jpg">)",
         R"(<img src="cid:a.jpg ">)",
         {true, false}},
        {"the earlier name keeps a reference that ends both",
         {"a.jpg", "x\\a.jpg"},
         R"(<img src="C:\x\a.jpg">)",
         R"(<img src="cid:a.jpg ">)",
         {true, false}},
        {"each its own",
         {"a.jpg", "b.jpg"},
         R"(<img src="b.jpg"><img src='p/a.jpg'>)",
         R"(<img src="cid:b.jpg "><img src='cid:a.jpg '>)",
         {true, true}},
        {"names differing in case get different identifiers",
         {"A.jpg", "a.jpg"},
         R"(<img src="a.jpg"><img src="A.jpg">)",
         R"(<img src="cid:)" + contentIdsFor({"A.jpg", "a.jpg"})[1] +
             R"( "><img src="cid:A.jpg ">)",
         {true, true}},
    };
    for (const auto& c : cases) {
        std::string body = c.body;
        EXPECT_EQ(rewriteInlineReferences(body, c.names), c.referred) << c.name;
        EXPECT_EQ(body, c.want) << c.name;
    }
}

// Content identifiers: simple names as they are, everything else short, distinct and stable.
TEST(ContentIds, Cases) {
    const std::string longSafe = std::string(200, 'n') + ".png";
    struct {
        const char* name;
        std::vector<std::string> names;
    } cases[] = {
        {"alike after reduction", {"a b.gif", "a_b.gif", "a\tb.gif", "a\xff\xfe b.gif"}},
        {"Cyrillic", {"\u0444\u043e\u0442\u043e.jpg", "\u043e\u043a\u043d\u043e.jpg"}},
        {"case", {"Logo.gif", "logo.gif", "LOGO.GIF"}},
        {"long", {longSafe, longSafe + "x", std::string(250, '\xd0')}},
        {"plain name equal to another's short form", {"a b.gif", contentIdFor("a b.gif")}},
        {"empty and odd", {"", ".", "..", "-", "x.", ".gif", "a.verylongextension"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> ids = contentIdsFor(c.names);
        ASSERT_EQ(ids.size(), c.names.size());
        std::set<std::string> seen;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const std::string& id = ids[i];
            EXPECT_TRUE(seen.insert(lowerAscii(id)).second) << "clash: " << id;
            EXPECT_FALSE(id.empty());
            EXPECT_LE(id.size(), kMaxPlainContentId) << id;
            EXPECT_EQ(id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                           "0123456789-._+"),
                      std::string::npos)
                << id;
            EXPECT_EQ(contentIdFor(id), id) << "an identifier is its own identifier";
            EXPECT_EQ(contentIdsFor(c.names)[i], id) << "the same list names the same";
        }
    }
    EXPECT_EQ(contentIdFor("logo.gif"), "logo.gif");
    EXPECT_EQ(contentIdFor(std::string(64, 'x')), std::string(64, 'x'));
    EXPECT_NE(contentIdFor(std::string(65, 'x')), std::string(65, 'x'));
}

TEST(UnsubscribeText, ShapesAndScopes) {
    const std::string u = "off@x.com";
    const std::string link = "<Center><BR><A href=\"mailto:off@x.com";
    const std::string tail = "\">Send Mail To off@x.com to unsubscribe.</A></Center>";
    struct {
        const char* name;
        MessageFormat format;
        UnsubscribeScope scope;
        std::optional<std::string_view> group;
        std::string want;
    } cases[] = {
        {"typed addresses", MessageFormat::Html, UnsubscribeScope::SingleGroup, std::nullopt,
         link + tail},
        {"single group, blank becomes colon", MessageFormat::Html, UnsubscribeScope::SingleGroup,
         "My Group", link + "?Subject=Unsubscribe-My:Group" + tail},
        {"all groups", MessageFormat::Html, UnsubscribeScope::AllGroups, "My Group",
         link + "?Subject=Unsubscribe" + tail},
        {"group name that would break the link", MessageFormat::Html, UnsubscribeScope::SingleGroup,
         "A&B #1", link + "?Subject=Unsubscribe-A%26B:%231" + tail},
        {"plain, single group", MessageFormat::PlainText, UnsubscribeScope::SingleGroup, "My Group",
         "\r\nMail To:- off@x.com with Subject: Unsubscribe-My:Group to unsubscribe."},
        {"plain, all groups", MessageFormat::PlainText, UnsubscribeScope::AllGroups, "My Group",
         "\r\nMail To:- off@x.com to unsubscribe."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unsubscribeText(c.format, u, c.scope, c.group), c.want) << c.name;

    std::string l = unsubscribeText(MessageFormat::Html, u, UnsubscribeScope::AllGroups, {});
    // The editor writes the closing body tag in capitals: the link goes after the end.
    EXPECT_EQ(withUnsubscribeText("<BODY>x</BODY></HTML>", MessageFormat::Html, u,
                                  UnsubscribeScope::AllGroups, {}),
              "<BODY>x</BODY></HTML>" + l + "</body></html>");
    EXPECT_EQ(withUnsubscribeText("<body>a</body>b</body>", MessageFormat::Html, u,
                                  UnsubscribeScope::AllGroups, {}),
              "<body>a" + l + "</body>b" + l + "</body>");
    EXPECT_EQ(
        withUnsubscribeText("Hi", MessageFormat::PlainText, u, UnsubscribeScope::AllGroups, {}),
        "Hi\r\nMail To:- off@x.com to unsubscribe.");
}

TEST(GeneratedPage, HeaderReader) {
    std::string page = std::string(kGeneratedPageMarker) +
                       "<!---##3--->\n<!---Image#1:/t/a.jpg1#---><!---Image#2:/t/b.jpg2#--->";
    GeneratedPage g = readGeneratedPage(page);
    EXPECT_TRUE(g.generated);
    EXPECT_EQ(g.pictureCount, 3);
    EXPECT_EQ(g.picturePaths, (std::vector<std::string>{"/t/a.jpg", "/t/b.jpg", ""}));

    EXPECT_EQ(readGeneratedPage("<!---##x").pictureCount, 0);
    EXPECT_EQ(readGeneratedPage("<!---##").pictureCount, 0);
    EXPECT_FALSE(readGeneratedPage("<html></html>").generated);
}

TEST(GeneratedPage, InsertingAttachesPicturesThatFit) {
    test::TempDir dir;
    dir.write("p1.jpg", std::string(1000000, '1'));
    dir.write("p2.jpg", std::string(1200000, '2'));  // would pass 2MB
    dir.write("p3.jpg", std::string(1000000, '3'));
    std::string page = "<html>" + std::string(kGeneratedPageMarker) + "<!---##4--->";
    for (int i = 1; i <= 4; ++i)
        page += "<!---Image#" + std::to_string(i) + ":" +
                dir.file("p" + std::to_string(i) + ".jpg") + std::to_string(i) + "#--->";
    dir.write("page.htm", page);

    CampaignMessage m;
    m.attachments.addFiles({dir.file("p3.jpg")});  // added by hand: emptied first
    InsertPageResult r = insertWebPage(m, dir.file("page.htm"));
    EXPECT_TRUE(r.loaded);
    EXPECT_EQ(r.messages, (std::vector<std::string>{std::string(kMsgAttachmentsTooLarge),
                                                    std::string(kMsgTemplateInfoLost)}));
    EXPECT_EQ(m.attachments.names(), (std::vector<std::string>{"p1.jpg", "p3.jpg"}));
    EXPECT_EQ(m.attachments.totalSize(), 2000000u);
    EXPECT_TRUE(m.generatedPage);
    EXPECT_TRUE(m.pageInserted);
    EXPECT_EQ(m.htmlText, page);

    dir.write("plain.htm", "<html>no marker</html>");
    r = insertWebPage(m, dir.file("plain.htm"));
    EXPECT_EQ(r.messages, (std::vector<std::string>{std::string(kMsgAddImagesYourself)}));
    EXPECT_FALSE(m.generatedPage);
    EXPECT_EQ(m.attachments.size(), 2u);  // left as it was
}

}  // namespace
}  // namespace qm
