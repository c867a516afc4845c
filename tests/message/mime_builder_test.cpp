// The MIME builder's exact bytes: golden files for the three shapes (fixed clock and Message-ID),
// the layout rules, the attachment cache, and builds on two threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "message/attachment_cache.h"
#include "message/fill_message.h"
#include "message/html_tools.h"
#include "message/mime_message.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const LocalMoment kMoment{1709647389, 19800};  // Tue, 05 Mar 2024 19:33:09 +0530

MimeSources fixedSources(AttachmentCache* cache) {
    return {[] { return kMoment; },
            [](std::string_view domain) { return "20240305193309.42@" + std::string(domain); },
            cache, nullptr};
}

std::string patternBytes(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return s;
}

// Header block and body of one recipient's copy, built the way the send engine does.
std::string buildCopy(CampaignMessage m, AttachmentCache* cache = nullptr,
                      std::string_view to = "bob@example.org") {
    m.attachments.resetEmbedded();
    if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);
    MimeMessage msg;
    msg.sources = fixedSources(cache);
    fillMimeMessage(msg, m, to, m.body);
    msg.build();
    return msg.headerBlock + msg.body;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    for (std::size_t eol; (eol = text.find("\r\n", pos)) != std::string::npos; pos = eol + 2)
        out.push_back(text.substr(pos, eol - pos));
    if (pos < text.size()) out.push_back(text.substr(pos));
    return out;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class MimeBuilder : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("logo.gif", patternBytes(100, 1));
        dir.write("report.pdf", patternBytes(200, 2));
        dir.write("a57.txt", std::string(57, 'a'));
        dir.write("b58.bin", patternBytes(58, 3));
    }
    CampaignMessage message(MessageFormat format, std::string body,
                            std::vector<std::string> files = {}) {
        CampaignMessage m;
        m.senderName = "Ann Smith";
        m.senderAddress = "ann@example.com";
        m.subject = "Spring offer";
        m.format = format;
        m.body = std::move(body);
        for (auto& f : files) f = dir.file(f);
        m.attachments.addFiles(files);
        return m;
    }
    test::TempDir dir;
};

const std::string kLongLine =
    "This line is longer than seventy-six characters, so the builder breaks it at its last blank "
    "before the limit.";

TEST_F(MimeBuilder, GoldenFilesForTheThreeShapes) {
    struct {
        const char* file;
        CampaignMessage m;
    } shapes[] = {
        {"plain.eml",
         message(MessageFormat::PlainText, "Hello Bob,\r\nyour order = shipped.\r\n" + kLongLine)},
        {"plain_attachments.eml",
         message(MessageFormat::PlainText, "See the files.", {"a57.txt", "b58.bin"})},
        {"html_inline_attachment.eml",
         message(MessageFormat::Html,
                 "<HTML><BODY><P>Price = 10</P><IMG src=\"/pics/logo.gif\">\r\n<P>" + kLongLine +
                     "</P></BODY></HTML>",
                 {"logo.gif", "report.pdf"})},
    };
    const bool update = std::getenv("QM_UPDATE_GOLDEN") != nullptr;
    for (auto& s : shapes) {
        std::string built = buildCopy(s.m);
        std::string path = std::string(QM_TEST_SOURCE_DIR) + "/golden/" + s.file;
        if (update) std::ofstream(path, std::ios::binary) << built;
        std::ifstream in(path, std::ios::binary);
        std::stringstream want;
        want << in.rdbuf();
        EXPECT_EQ(built, want.str()) << s.file << " (QM_UPDATE_GOLDEN=1 rewrites it)";
    }
}

TEST_F(MimeBuilder, PlainOneWordLayout) {
    auto l = lines(buildCopy(message(MessageFormat::PlainText, "Hello")));
    ASSERT_EQ(l.size(), 11u);
    EXPECT_EQ(l[0], "From: Ann Smith<ann@example.com>");
    EXPECT_EQ(l[1], "To: <bob@example.org>");
    EXPECT_EQ(l[2], "Date: Tue, 05 Mar 2024 19:33:09 +0530");
    EXPECT_EQ(l[3], "Message-ID: <20240305193309.42@example.com>");
    EXPECT_EQ(l[6], "MIME-Version: 1.0");
    EXPECT_EQ(std::vector<std::string>(l.begin() + 7, l.end()),
              (std::vector<std::string>{"Content-Type: text/plain",
                                        "Content-Transfer-Encoding: 7Bit", "", "Hello"}));
    // An empty plain body is sent as one tab.
    EXPECT_EQ(lines(buildCopy(message(MessageFormat::PlainText, ""))).back(), "\t");
}

TEST_F(MimeBuilder, HtmlShapeBoundariesAndEscapes) {
    std::string built = buildCopy(message(MessageFormat::Html, "<P>a=b</P>", {"report.pdf"}));
    for (char d : {'0', '1', '2'}) {
        std::string b = "--_" + std::string(1, d) + "_.__.__ZEB__Mailer__Part_Boundary_";
        EXPECT_EQ(count(built, "\r\n" + b + "--\r\n"), 1u) << d;
        EXPECT_EQ(count(built, "boundary=" + b.substr(2) + "\r\n"), 1u) << d;
    }
    EXPECT_EQ(count(built, "This is a multi-part message in MIME format."), 1u);
    // "=" escaped only in the HTML part.
    EXPECT_EQ(count(built, "Content-Transfer-Encoding: 7Bit\r\n\r\n<P>a=b</P>\r\n"), 1u);
    EXPECT_EQ(count(built, "Content-Transfer-Encoding: quoted-printable\r\n\r\n<P>a=3Db</P>\r\n"),
              1u);
    EXPECT_EQ(
        count(built, "\r\n\r\n--_2_.__.__ZEB__Mailer__Part_Boundary_\r\nContent-Type: text/html"),
        1u);
}

TEST_F(MimeBuilder, AttachmentLines) {
    std::string built = buildCopy(message(MessageFormat::PlainText, "x", {"a57.txt", "b58.bin"}));
    std::string b0 = "--_0_.__.__ZEB__Mailer__Part_Boundary_";
    // 57 bytes: one line of 76; 58 bytes: a second line of 4 ending "=="; each then an empty line.
    auto l = lines(built);
    auto at = std::find(l.begin(), l.end(), "Content-Disposition: attachment; filename=a57.txt");
    ASSERT_NE(at, l.end());
    EXPECT_EQ(at[-2], "Content-Type: application/octet-stream; file=a57.txt");
    EXPECT_EQ(at[2].size(), 76u);
    EXPECT_EQ(at[3], "");
    EXPECT_EQ(at[4], "");
    EXPECT_EQ(at[5], b0);
    at = std::find(l.begin(), l.end(), "Content-Disposition: attachment; filename=b58.bin");
    ASSERT_NE(at, l.end());
    EXPECT_EQ(at[2].size(), 76u);
    EXPECT_EQ(at[3].size(), 4u);
    EXPECT_EQ(at[3].substr(2), "==");
    EXPECT_EQ(at[4], "");
    EXPECT_EQ(at[5], b0 + "--");
}

TEST(WrapText, Cases) {
    struct {
        const char* name;
        std::string in, want;
    } cases[] = {
        {"200 characters without blanks stay one line", std::string(200, 'x'),
         std::string(200, 'x')},
        {"break at the last blank, blanks around it removed",
         std::string(70, 'a') + "   " + std::string(10, 'b'),
         std::string(70, 'a') + "\r\n" + std::string(10, 'b')},
        {"76 characters stay", std::string(76, 'a'), std::string(76, 'a')},
        {"blank as the 77th character", std::string(76, 'a') + " b",
         std::string(76, 'a') + "\r\nb"},
        {"long word then a blank", std::string(80, 'a') + " b c", std::string(80, 'a') + "\r\nb c"},
        {"count restarts at each line end",
         std::string(50, 'a') + "\r\n" + std::string(50, 'b') + " c",
         std::string(50, 'a') + "\r\n" + std::string(50, 'b') + " c"},
    };
    for (const auto& c : cases) EXPECT_EQ(wrapText(c.in, 76), c.want) << c.name;
}

TEST_F(MimeBuilder, CacheEncodesEachFileOncePerRun) {
    AttachmentCache cache;
    auto m = message(MessageFormat::Html, "<img src=\"logo.gif\">", {"logo.gif", "report.pdf"});
    std::string first = buildCopy(m, &cache, "a@example.org");
    std::string second = buildCopy(m, &cache, "b@example.org");
    EXPECT_EQ(cache.encodeCount(), 2u);
    EXPECT_EQ(first, buildCopy(m, nullptr, "a@example.org"));
    // A file changed during the run is encoded afresh.
    dir.write("report.pdf", patternBytes(300, 9));
    std::string third = buildCopy(m, &cache, "b@example.org");
    EXPECT_EQ(cache.encodeCount(), 3u);
    EXPECT_NE(third, second);
    EXPECT_EQ(third, buildCopy(m, nullptr, "b@example.org"));
}

TEST_F(MimeBuilder, MissingFileAndUnknownKind) {
    auto m = message(MessageFormat::PlainText, "x", {"report.pdf"});
    std::string gone = dir.file("report.pdf");
    std::remove(gone.c_str());
    std::string built = buildCopy(m);
    EXPECT_NE(built.find("filename=report.pdf\r\n\r\n--_0_"), std::string::npos) << built;

    MimeMessage msg;
    msg.sources = fixedSources(nullptr);
    MimePart* root = msg.setRoot(ContentKind::Mixed);
    msg.addChild(root, static_cast<ContentKind>(7), "lost", kLabelByKind, {});
    msg.addChild(root, ContentKind::PlainText, "kept", kLabelByKind, {});
    msg.build();
    EXPECT_EQ(msg.body.find("lost"), std::string::npos);
    EXPECT_EQ(count(msg.body, "--_0_.__.__ZEB__Mailer__Part_Boundary_\r\n"), 1u);
}

TEST(MimeMessageFill, RecipientListAndPartOrder) {
    MimeMessage msg;
    EXPECT_TRUE(msg.addRecipientList("a@x.com;Bee<b@x.com>;", kRecipientCc));
    ASSERT_EQ(msg.recipients.size(), 3u);
    EXPECT_EQ(msg.recipients[1].displayName, "Bee");
    EXPECT_EQ(msg.recipients[1].address, "b@x.com");
    EXPECT_EQ(msg.recipients[2].address, "");
    EXPECT_FALSE(msg.addRecipientList("c@x.com;Dee>d@x.com<", kRecipientTo));
    EXPECT_EQ(msg.recipients.size(), 4u);

    MimeMessage parts;
    parts.addPart("/f1", ContentKind::FileAttachment, {}, kLabelByKind, true);
    parts.addPart("text", ContentKind::PlainText, {}, kLabelByKind, false);
    parts.addPart("/f2", ContentKind::FileAttachment, {}, kLabelByKind, true);
    ASSERT_EQ(parts.root()->kind, ContentKind::Mixed);
    ASSERT_EQ(parts.root()->children.size(), 3u);
    EXPECT_EQ(parts.root()->children[0]->content, "text");
    EXPECT_EQ(parts.root()->children[2]->content, "/f2");
}

TEST_F(MimeBuilder, TwoThreadsBuildingAtOnce) {
    // No build lock taken: each message must still carry the depth digits of its own tree.
    AttachmentCache cache;
    auto html = message(MessageFormat::Html, "<img src=\"logo.gif\">", {"logo.gif", "report.pdf"});
    auto plain = message(MessageFormat::PlainText, "plain", {"a57.txt"});
    const std::string wantHtml = buildCopy(html), wantPlain = buildCopy(plain);
    int wrong = 0;
    std::thread other([&] {
        for (int i = 0; i < 200; ++i)
            if (buildCopy(plain, &cache) != wantPlain) ++wrong;
    });
    int wrongHere = 0;
    for (int i = 0; i < 200; ++i)
        if (buildCopy(html, &cache) != wantHtml) ++wrongHere;
    other.join();
    EXPECT_EQ(wrong + wrongHere, 0);
}

}  // namespace
}  // namespace qm
