// The template wizard's core: the field rules, the checks in their order, and the generated page
// with its pictures, read back through the page tools as a later "Insert Webpage..." reads it.
#include "message/template_wizard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "message/campaign_message.h"
#include "message/html_tools.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(TemplateFields, LinkAddressesAreNormalised) {
    struct Case {
        const char* typed;
        const char* want;
    } cases[] = {
        {"WWW.Example.COM\\Offers\\May", "http://www.Example.COM/Offers/May"},
        {"http://www.a.org", "http://www.a.org"},
        {"Http://www.a.org", "http://www.a.org"},
        {"HTTP://www.a.org", "http://www.a.org"},
        {"http:\\\\www.a.org\\x", "http://www.a.org/x"},
        {"Http:\\\\www.a.org", "http://www.a.org"},
        {"HTTP:\\\\www.a.org", "http://www.a.org"},
        {"http:\\\\\\www.a.org", "http://www.a.org"},  // three backslashes count as two
        {"hTTp://a.org", "http://hTTp://a.org"},       // a spelling not in the list stays
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(normaliseLinkAddress(c.typed), c.want) << "typed: " << c.typed;
}

TEST(TemplateFields, TextsAreEscapedAndTargetsGetTheirExtension) {
    EXPECT_EQ(escapeHtmlText("<b>\"Tom & Jerry's\"</b>"),
              "&lt;b&gt;&quot;Tom &amp; Jerry's&quot;&lt;/b&gt;");
    struct Case {
        const char* typed;
        const char* want;
    } names[] = {
        {"/t/offer", "/t/offer.htm"},           {"/t/offer.htm", "/t/offer.htm"},
        {"/t/offer.html", "/t/offer.html"},     {"/t/offer.HTM", "/t/offer.HTM.htm"},
        {"/t/offer.Html", "/t/offer.Html.htm"}, {"/t/offer.txt", "/t/offer.txt.htm"},
    };
    for (const Case& c : names) EXPECT_EQ(templateTargetName(c.typed), c.want) << c.typed;
}

TEST(TemplateChecks, LinksFailInOrderWithTheirField) {
    using F = WizardField;
    struct Case {
        const char* name;
        void (*spoil)(TemplateWizardState&);
        F field;
        const char* message;
    } cases[] = {
        {"link1 text blank", [](auto& s) { s.link1Text = "  \t"; }, F::Link1Text,
         "Link1 text field cannot be empty."},
        {"link1 address blank", [](auto& s) { s.link1Address = " "; }, F::Link1Address,
         "Link1 Address field cannot be empty."},
        {"link1 quote", [](auto& s) { s.link1Address = "a.org/\"x"; }, F::Link1Address,
         "Link1 Address cannot contain <,>,\",',|."},
        {"link2 text", [](auto& s) { s.link2Text = ""; }, F::Link2Text,
         "Link2 text field cannot be empty."},
        {"link2 address", [](auto& s) { s.link2Address = ""; }, F::Link2Address,
         "Link2 Address field cannot be empty."},
        {"link2 bar", [](auto& s) { s.link2Address = "a|b"; }, F::Link2Address,
         "Link2 Address cannot contain <,>,\",',|."},
        {"website", [](auto& s) { s.website = ""; }, F::Website,
         "Website Address field cannot be empty."},
        {"website apostrophe", [](auto& s) { s.website = "a'b"; }, F::Website,
         "Website Address cannot contain <,>,\",',|."},
        {"first failure wins",
         [](auto& s) {
             s.link2Text = "";
             s.link1Address = "<x>";
         },
         F::Link1Address, "Link1 Address cannot contain <,>,\",',|."},
    };
    for (const Case& c : cases) {
        TemplateWizardState s = defaultWizardState(0);
        c.spoil(s);
        WizardCheck got = checkLinks(s);
        EXPECT_EQ(got.field, c.field) << c.name;
        EXPECT_EQ(got.message, c.message) << c.name;
    }
    TemplateWizardState s = defaultWizardState(0);
    s.link1Text = "  Click <here>  ";
    s.website = " WWW.Example.com\\Home ";
    EXPECT_TRUE(checkLinks(s).ok());
    EXPECT_EQ(s.link1Text, "Click <here>") << "trimmed, kept as typed: escaped in the page";
    EXPECT_EQ(s.website, "http://www.Example.com/Home");
    EXPECT_TRUE(checkLinks(s).ok());
    EXPECT_EQ(s.website, "http://www.Example.com/Home") << "checking twice changes nothing";
}

TEST(TemplateChecks, TextsFailInOrderAndHighlightsStopAtSix) {
    using F = WizardField;
    struct Case {
        int design;
        void (*spoil)(TemplateWizardState&);
        F field;
        const char* message;
    } cases[] = {
        {0, [](auto& s) { s.description = "\r\n"; }, F::Description,
         "Description field cannot be empty."},
        {0, [](auto& s) { s.firstDescription = ""; }, F::FirstDescription,
         "First description field cannot be empty."},
        {6, [](auto& s) { s.secondDescription = " "; }, F::SecondDescription,
         "Second description field cannot be empty."},
        {7, [](auto& s) { s.heading = ""; }, F::Heading, "Heading field cannot be empty."},
        {0, [](auto& s) { s.highlights = " \r\n "; }, F::Highlights,
         "Highlights field cannot be empty."},
        {0, [](auto& s) { s.salutation = ""; }, F::Salutation, "Salutation field cannot be empty."},
        {5, [](auto& s) { s.salutation = ""; }, F::Salutation,
         "Template Offer field cannot be empty"},
        {6, [](auto& s) { s.salutation = ""; }, F::Salutation, "Salutation field cannot be empty."},
        {7, [](auto& s) { s.salutation = ""; }, F::Salutation,
         "Template Offer field cannot be empty"},
        {0, [](auto& s) { s.highlights = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7"; }, F::Highlights,
         "More than 6 highlights are not allowed."},
        {0, [](auto& s) { s.highlights = "1\n2\n3\n4\n5\n6\n7"; }, F::Highlights,
         "More than 6 highlights are not allowed."},
        {0,
         [](auto& s) {
             s.highlights = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7";
             s.salutation = "";
         },
         F::Salutation, "Salutation field cannot be empty."},
        {0, [](auto& s) { s.highlights = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n"; }, F::None, ""},
    };
    for (const Case& c : cases) {
        TemplateWizardState s = defaultWizardState(c.design);
        c.spoil(s);
        WizardCheck got = checkTexts(s);
        EXPECT_EQ(got.field, c.field) << c.message;
        EXPECT_EQ(got.message, c.message);
    }
}

TEST(TemplateChecks, PicturesAreAskedForOnlyWhereTheDesignUsesThem) {
    struct Case {
        int design;
        bool useImage, useLogo;
        WizardField want;
    } cases[] = {
        {0, true, true, WizardField::Image},  {3, false, true, WizardField::Logo},
        {3, false, false, WizardField::None}, {4, true, true, WizardField::None},
        {5, true, true, WizardField::Logo},   {7, true, false, WizardField::None},
    };
    for (const Case& c : cases) {
        TemplateWizardState s = defaultWizardState(c.design);
        s.useImage = c.useImage;
        s.useLogo = c.useLogo;
        EXPECT_EQ(checkImages(s).field, c.want) << "design " << c.design;
    }
    TemplateWizardState s = defaultWizardState(2);
    fillDefaultPictures(s, "/data");
    EXPECT_EQ(s.imagePath, "/data/Images/img31.jpg");
    EXPECT_EQ(s.logoPath, "/data/Images/img32.jpg");
    EXPECT_TRUE(checkImages(s).ok());
}

TEST(TemplatePage, HeaderIsExact) {
    EXPECT_EQ(templatePageHeader({"/t/Images/a.jpg", "/t/Images/trans.gif"}),
              "<!---Cation: Do not delete or change this information--->\r\n"
              "<!---Quillmark Generated Template--->\r\n"
              "<!---##2##--->\r\n"
              "<!---Image#1:/t/Images/a.jpg1#--->\r\n"
              "<!---Image#2:/t/Images/trans.gif2#--->\r\n"
              "\r\n<!---Editable content starts here--->\r\n\r\n\r\n");
    EXPECT_EQ(templatePageHeader({}),
              "<!---Cation: Do not delete or change this information--->\r\n"
              "<!---Quillmark Generated Template--->\r\n<!---##0##--->\r\n"
              "\r\n<!---Editable content starts here--->\r\n\r\n\r\n");
}

// A data folder with every fixed picture of every design, and the user's own pictures.
struct WizardFixture {
    test::TempDir data, user, target;
    WizardFixture() {
        ::mkdir(data.file("images").c_str(), 0755);
        for (int d = 0; d < kTemplateDesignCount; ++d)
            for (std::string_view name : templateDesign(d).fixedPictures)
                data.write("images/" + std::string(name), "fixed " + std::string(name));
        user.write("shop.jpg", "the shop");
        user.write("brand.gif", "the brand");
    }
};

TEST(TemplatePage, PicturesAreCopiedListedOnceAndAttachedAgainOnInsert) {
    WizardFixture f;
    TemplateWizardState s = defaultWizardState(0);
    s.targetPath = f.target.file("offer.htm");
    s.imagePath = f.user.file("shop.jpg");
    s.logoPath = f.user.file("shop.jpg");  // the same file twice
    s.heading = "Tom & <Jerry>";
    s.highlights = "one\r\n<two>";
    s.salutation = "Hi \"you\"";
    s.link1Text = "go <now>";
    TemplateGeneration g = generateTemplatePage(s, f.data.path());
    ASSERT_TRUE(g.written) << g.error;
    EXPECT_TRUE(g.messages.empty());
    const std::string images = f.target.file("Images");
    EXPECT_EQ(s.pictures, (std::vector<std::string>{images + "/shop.jpg", images + "/trans.gif",
                                                    images + "/layout1_bg.gif"}));
    EXPECT_EQ(f.target.read("Images/shop.jpg"), "the shop");
    EXPECT_EQ(f.target.read("Images/layout1_bg.gif"), "fixed layout1_bg.gif");

    const std::string page = f.target.read("offer.htm");
    EXPECT_EQ(page.rfind(templatePageHeader(s.pictures), 0), 0u);
    for (const char* escaped : {"Tom &amp; &lt;Jerry&gt;", "<li>&lt;two&gt;</li>",
                                "Hi &quot;you&quot;", "go &lt;now&gt;"})
        EXPECT_NE(page.find(escaped), std::string::npos) << escaped;
    for (const char* raw : {"<Jerry>", "<two>", "\"you\"", "<now>"})
        EXPECT_EQ(page.find(raw), std::string::npos) << raw;
    EXPECT_NE(page.find("src=\"Images/shop.jpg\""), std::string::npos);

    CampaignMessage m;
    InsertPageResult inserted = insertWebPage(m, s.targetPath);
    EXPECT_TRUE(inserted.loaded);
    EXPECT_TRUE(inserted.messages.empty());
    EXPECT_TRUE(m.generatedPage);
    EXPECT_EQ(m.attachments.names(),
              (std::vector<std::string>{"shop.jpg", "trans.gif", "layout1_bg.gif"}));
}

TEST(TemplatePage, MissingPicturesAreReportedAndSkipped) {
    WizardFixture f;
    ::unlink(f.data.file("images/img73.jpg").c_str());
    TemplateWizardState s = defaultWizardState(6);
    s.targetPath = f.target.file("six.html");
    s.logoPath = f.user.file("gone.gif");
    TemplateGeneration g = generateTemplatePage(s, f.data.path());
    ASSERT_TRUE(g.written);
    EXPECT_EQ(g.messages, (std::vector<std::string>{std::string(kMsgLogoMissing),
                                                    std::string(kMsgFixedPictureMissing)}));
    EXPECT_EQ(s.pictures.size(), 3u) << "trans.gif, img71.jpg, img74.jpg";
    EXPECT_NE(f.target.read("six.html").find("<!---##3##--->"), std::string::npos);

    s = defaultWizardState(1);
    s.targetPath = f.target.file("one.htm");
    s.imagePath = f.user.file("nothing.jpg");
    s.useLogo = false;
    g = generateTemplatePage(s, f.data.path());
    EXPECT_EQ(g.messages, (std::vector<std::string>{std::string(kMsgImageMissing)}));
    EXPECT_EQ(f.target.read("one.htm").find("brand.gif"), std::string::npos);
}

TEST(TemplatePage, UnwritableTargetIsAFailureNotAStalePage) {
    WizardFixture f;
    TemplateWizardState s = defaultWizardState(0);
    s.imagePath = f.user.file("shop.jpg");
    s.logoPath = f.user.file("brand.gif");
    struct Case {
        const char* name;
        const char* target;
        void (*prepare)(const test::TempDir&);
    } cases[] = {
        {"folder is a file", "blocker/new.htm",
         [](const test::TempDir& t) { t.write("blocker", "a file"); }},
        {"Images is a file", "old.htm",
         [](const test::TempDir& t) {
             t.write("old.htm", "stale page");
             t.write("Images", "a file");
         }},
        {"page is a folder", "taken.htm",
         [](const test::TempDir& t) { ::mkdir(t.file("taken.htm").c_str(), 0755); }},
    };
    for (const Case& c : cases) {
        test::TempDir target;
        c.prepare(target);
        s.targetPath = target.file(c.target);
        TemplateGeneration g = generateTemplatePage(s, f.data.path());
        EXPECT_FALSE(g.written) << c.name;
        EXPECT_FALSE(g.error.empty()) << c.name;
    }
}

}  // namespace
}  // namespace qm
