// Every shape, and every body and name that once made invalid mail, built and read back by two
// independent readers (Python's email package and GMime): the part tree, decoded bodies,
// attachment bytes, file names, content IDs, subject and sender name must be what went in.
#include <gtest/gtest.h>

#include <set>

#include "common/header_encoding.h"
#include "common/smtp_transparency.h"
#include "common/text.h"
#include "message/fill_message.h"
#include "message/html_tools.h"
#include "message/meta_charset.h"
#include "mime_readers.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

struct WantPart {
    int depth;
    std::string type;
    std::string bytes;  // text parts: compared with line ends and final line ends evened out
    std::string filename = {};
    std::string contentId = {};
    std::string charset = {};  // checked when not empty
};

struct Scenario {
    const char* name;
    std::string senderName, subject;
    MessageFormat format;
    std::string body;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::vector<WantPart> want;
};

std::string evenText(std::string s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string binary(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + 5) & 0xFF);
    return s;
}

void expectRead(const test::ReadMessage& got, const Scenario& s, const char* reader) {
    SCOPED_TRACE(std::string(s.name) + " / " + reader);
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_TRUE(got.defects.empty()) << got.defects.front();
    EXPECT_EQ(got.subject, headerSafe(s.subject));
    EXPECT_EQ(got.fromName, s.senderName);
    EXPECT_EQ(got.fromAddress, "ann@example.com");
    EXPECT_EQ(got.messageId, "20240305.7@example.com");
    ASSERT_EQ(got.parts.size(), s.want.size());
    for (std::size_t i = 0; i < s.want.size(); ++i) {
        const auto& w = s.want[i];
        const auto& p = got.parts[i];
        SCOPED_TRACE("part " + std::to_string(i));
        EXPECT_EQ(p.depth, w.depth);
        EXPECT_EQ(p.type, w.type);
        if (w.type.rfind("text/", 0) == 0)
            EXPECT_EQ(evenText(p.bytes), evenText(w.bytes));
        else
            EXPECT_EQ(p.bytes, w.bytes);
        EXPECT_EQ(p.filename, w.filename);
        EXPECT_EQ(p.contentId, w.contentId);
        if (!w.charset.empty()) {
            EXPECT_EQ(p.charset, w.charset);
        }
    }
}

TEST(MimeReadBack, BothReadersSeeWhatWentIn) {
    const std::string b0 = "--_0_.__.__ZEB__Mailer__Part_Boundary_";
    const std::string htmlUtf8 =
        "<html><body><p>Prix : 10 \xe2\x82\xac = dix</p><img src=\"x/logo.gif\"></body></html>";
    const std::string htmlRewritten =
        "<html><body><p>Prix : 10 \xe2\x82\xac = dix</p><img src=\"cid:logo.gif \"></body></html>";
    const std::string hostilePlain =
        "first\nsecond\rthird\r\n.\r\n.leading dot\r\ntrailing   \r\n" + b0 + "--\r\n" +
        std::string(2000, 'z') + "\r\nend";
    const std::string logo = binary(100), report = binary(58), a57(57, 'a');
    Scenario scenarios[] = {
        {"plain text alone",
         "Ann Smith",
         "Spring offer",
         MessageFormat::PlainText,
         "Hello Bob,\r\nsee you.",
         {},
         {{0, "text/plain", "Hello Bob,\r\nsee you."}}},
        {"plain text with attachments and awkward names",
         "Ann Smith",
         "Files",
         MessageFormat::PlainText,
         "See the files.",
         {{"a57.txt", a57}, {"my report (v2).bin", report}, {"r\xc3\xa9sum\xc3\xa9.pdf", logo}},
         {{0, "multipart/mixed", ""},
          {1, "text/plain", "See the files."},
          {1, "application/octet-stream", a57, "a57.txt"},
          {1, "application/octet-stream", report, "my report (v2).bin"},
          {1, "application/octet-stream", logo, "r\xc3\xa9sum\xc3\xa9.pdf"}}},
        {"HTML, inline picture, attachment, non-ASCII everywhere",
         "Zo\xc3\xab Bront\xc3\xab",
         "Caf\xc3\xa9 offer \xe2\x80\x94 10 \xe2\x82\xac for everyone who reads this far into a "
         "rather long subject line",
         MessageFormat::Html,
         htmlUtf8,
         {{"logo.gif", logo}, {"report.pdf", report}},
         {{0, "multipart/mixed", ""},
          {1, "multipart/related", ""},
          {2, "multipart/alternative", ""},
          {3, "text/plain", htmlRewritten, "", "", "utf-8"},
          {3, "text/html", htmlRewritten, "", "", "utf-8"},
          {2, "application/octet-stream", logo, "", "logo.gif"},
          {1, "application/octet-stream", report, "report.pdf"}}},
        {"body with bare line ends, dots, boundary text and a 2000-character line",
         "Ann Smith",
         "Report",
         MessageFormat::PlainText,
         hostilePlain,
         {{"a57.txt", a57}},
         {{0, "multipart/mixed", ""},
          {1, "text/plain", normaliseLineEnds(hostilePlain)},
          {1, "application/octet-stream", a57, "a57.txt"}}},
        {"Latin-1 HTML and a subject trying to add a header",
         "Ann Smith",
         "Hi\r\nBcc: victim@example.net",
         MessageFormat::Html,
         "<p>caf\xe9 a=b</p>",
         {},
         {{0, "multipart/mixed", ""},
          {1, "multipart/related", ""},
          {2, "multipart/alternative", ""},
          {3, "text/plain", "<p>caf\xe9 a=b</p>", "", "", "iso-8859-1"},
          {3, "text/html", "<p>caf\xe9 a=b</p>", "", "", "iso-8859-1"}}},
    };
    for (const auto& s : scenarios) {
        test::TempDir dir;
        CampaignMessage m;
        m.senderName = s.senderName;
        m.senderAddress = "ann@example.com";
        m.subject = s.subject;
        m.format = s.format;
        m.body = s.body;
        std::vector<std::string> paths;
        for (const auto& [name, content] : s.files) {
            dir.write(name, content);
            paths.push_back(dir.file(name));
        }
        ASSERT_EQ(m.attachments.addFiles(paths), "") << s.name;
        if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);
        MimeMessage msg;
        msg.sources.clock = [] { return LocalMoment{1709647389, 0}; };
        msg.sources.messageId = [](std::string_view d) { return "20240305.7@" + std::string(d); };
        fillMimeMessage(msg, m, "bob@example.org", m.body);
        msg.build();
        std::string data = msg.headerBlock + msg.body;
        EXPECT_TRUE(hasMailLines(smtpTransparency(data))) << s.name;
        EXPECT_EQ(msg.headerBlock.find("\nBcc:"), std::string::npos) << s.name;
        expectRead(test::readWithPython(data), s, "python");
        expectRead(test::readWithGMime(data), s, "gmime");
    }
}

// The label of the first charset declaration in a <meta> tag of a page, lower case; empty: none.
std::string metaCharset(const std::string& page) {
    std::string lower = lowerAscii(page);
    std::size_t meta = lower.find("<meta");
    while (meta != std::string::npos) {
        std::size_t end = lower.find('>', meta);
        std::size_t at = lower.find("charset", meta);
        if (at < end) {
            at = lower.find_first_not_of(" =\"'", at + 7);
            return lower.substr(at, lower.find_first_of(" \"';/>", at) - at);
        }
        meta = lower.find("<meta", end);
    }
    return {};
}

TEST(MetaCharset, DeclarationsFoundAndRewritten) {
    struct {
        const char* page;
        const char* want;  // nullptr: nothing to rewrite
    } cases[] = {
        {"<meta charset=\"utf-8\">", "<meta charset=\"X\">"},
        {"<META CHARSET = 'UTF-8' />", "<META CHARSET = 'X' />"},
        {"<meta http-equiv=Content-Type content=\"text/html; charset=unicode\">",
         "<meta http-equiv=Content-Type content=\"text/html; charset=X\">"},
        {"<meta\r\n\tcontent=\"text/html;charset=utf-16\" http-equiv=\"content-type\">",
         "<meta\r\n\tcontent=\"text/html;charset=X\" http-equiv=\"content-type\">"},
        {"<meta charset=3D\"utf-8\">", "<meta charset=3D\"X\">"},  // still quoted-printable
        {"<meta charset=a><p>charset=b</p><meta charset=c>",
         "<meta charset=X><p>charset=b</p><meta charset=X>"},
        {"<p>charset=utf-8</p>", nullptr},
        {"<metadata charset=utf-8>", nullptr},
        {"<meta name=description content=x>", nullptr},
        {"<meta charset=utf-8", nullptr},  // no end
        {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(withMetaCharset(c.page, "X", out), c.want != nullptr) << c.page;
        EXPECT_EQ(out, c.want ? c.want : "untouched") << c.page;
    }
}

// A page's own charset declaration agrees with its part's charset, whatever it said before (the
// editor's blank document says "unicode"), and the text reads back whole in that charset.
TEST(MimeReadBack, PageCharsetDeclarationAgreesWithThePart) {
    const std::string blank(kBlankDocument);
    const std::string withText = blank.substr(0, blank.find("<BODY></BODY>")) +
                                 "<BODY>Gr\xc3\xbc\xc3\x9f" +
                                 "e aus K\xc3\xb6ln: 10 \xe2\x82\xac</BODY></HTML>";
    struct {
        const char* name;
        std::string page;
        std::string charset;   // of the part and of the page
        std::string readable;  // text the reader must see in the part
    } cases[] = {
        {"the blank document with UTF-8 text", withText, "utf-8", "K\xc3\xb6ln: 10 \xe2\x82\xac"},
        {"meta charset, Latin-1 text",
         "<html><head><meta charset=\"utf-8\"></head><body>caf\xe9 cr\xe8me</body></html>",
         "iso-8859-1", "caf\xe9 cr\xe8me"},
        {"upper case, single quotes, Windows-1252 text",
         "<HTML><HEAD><META HTTP-EQUIV='Content-Type' CONTENT='text/html;CHARSET=UTF-16'>"
         "</HEAD><BODY>\x93quoted\x94 \x80 5</BODY></HTML>",
         "windows-1252", "\x93quoted\x94 \x80 5"},
        // 7-bit text goes as it stands, under the fixed label.
        {"ASCII text, a meta that closes itself",
         "<html><head><meta charset=unicode/></head><body>plain</body></html>", "iso-8859-1",
         "plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CampaignMessage m;
        m.senderName = "Ann Smith";
        m.senderAddress = "ann@example.com";
        m.subject = "Charset";
        m.format = MessageFormat::Html;
        m.body = c.page;
        MimeMessage msg;
        fillMimeMessage(msg, m, "bob@example.org", m.body);
        msg.build();
        const std::string data = msg.headerBlock + msg.body;
        for (const auto& read : {test::readWithPython(data), test::readWithGMime(data)}) {
            ASSERT_TRUE(read.ok) << read.error;
            const test::ReadPart* html = nullptr;
            for (const auto& p : read.parts)
                if (p.type == "text/html") html = &p;
            ASSERT_NE(html, nullptr);
            EXPECT_EQ(html->charset, c.charset);
            EXPECT_EQ(metaCharset(html->bytes), c.charset) << html->bytes;
            EXPECT_NE(html->bytes.find(c.readable), std::string::npos) << html->bytes;
            // Only the label changed.
            std::string want = c.page;
            std::size_t at = lowerAscii(want).find("charset=") + 8;
            if (want[at] == '"' || want[at] == '\'') ++at;
            want.replace(at, want.find_first_of("\"'/>", at) - at, c.charset);
            EXPECT_EQ(evenText(html->bytes), evenText(want));
        }
    }
    // The editor keeps its blank document as it is.
    CampaignMessage fresh;
    newMessage(fresh);
    EXPECT_EQ(metaCharset(fresh.htmlText), "unicode");
}

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// The "cid:" references of an HTML text, in order: the text after "cid:" up to the blank the
// rewrite puts after it (or the line break that wrapping put in its place).
std::vector<std::string> cidReferences(std::string_view html) {
    std::vector<std::string> refs;
    for (std::size_t at = 0; (at = html.find("cid:", at)) != std::string_view::npos;) {
        at += 4;
        std::size_t end = html.find_first_of(" \r\n", at);
        refs.emplace_back(html.substr(at, end - at));
    }
    return refs;
}

// Every "cid:" reference of the HTML part names the one part that holds its own picture, also for
// names that a reduction to safe characters makes alike and names too long for a header line; and
// a simple name stays its own content identifier.
TEST(MimeReadBack, EveryCidReferenceResolvesToItsPicture) {
    struct Case {
        const char* name;
        std::vector<std::string> files;  // in list order; the body refers to each in this order
        std::vector<std::string> wantIds = {};  // per file; empty: only resolution is checked
    } cases[] = {
        {"Cyrillic names alike after reduction",
         {"\u0444\u043e\u0442\u043e.jpg", "\u043e\u043a\u043d\u043e.jpg"}},
        {"blank and underscore alike after reduction", {"a b.gif", "a_b.gif"}, {"", "a_b.gif"}},
        {"names differing only in case", {"Logo.gif", "logo.gif"}, {"Logo.gif", ""}},
        {"long names: safe, non-ASCII, and alike but for the end",
         {std::string(200, 'n') + ".png", repeat("\u00e9", 120) + ".png",
          std::string(200, 'n') + "2.png"}},
        {"simple names keep their form",
         {"logo.gif", "photo-1+2.JPG"},
         {"logo.gif", "photo-1+2.JPG"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        CampaignMessage m;
        m.senderName = "Ann Smith";
        m.senderAddress = "ann@example.com";
        m.subject = "Pictures";
        m.format = MessageFormat::Html;
        m.body = "<html><body>";
        std::vector<std::string> paths, contents;
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            contents.push_back("picture " + std::to_string(i) + binary(40 + i));
            dir.write(c.files[i], contents.back());
            paths.push_back(dir.file(c.files[i]));
            m.body += "<p>" + std::to_string(i) + "</p><img src=\"pics/" + c.files[i] + "\">";
        }
        m.body += "</body></html>";
        ASSERT_EQ(m.attachments.addFiles(paths), "");
        rewriteInlineImages(m.body, m.attachments);
        MimeMessage msg;
        msg.sources.clock = [] { return LocalMoment{1709647389, 0}; };
        msg.sources.messageId = [](std::string_view d) { return "20240305.7@" + std::string(d); };
        fillMimeMessage(msg, m, "bob@example.org", m.body);
        msg.build();
        const std::string data = msg.headerBlock + msg.body;
        EXPECT_TRUE(hasMailLines(smtpTransparency(data)));
        for (auto [reader, got] : {std::pair{"python", test::readWithPython(data)},
                                   std::pair{"gmime", test::readWithGMime(data)}}) {
            SCOPED_TRACE(reader);
            ASSERT_TRUE(got.ok) << got.error;
            EXPECT_TRUE(got.defects.empty()) << got.defects.front();
            std::set<std::string> ids;  // lower case: some readers compare them so
            const test::ReadPart* html = nullptr;
            for (const auto& p : got.parts) {
                if (p.type == "text/html") html = &p;
                if (p.contentId.empty()) continue;
                EXPECT_TRUE(ids.insert(lowerAscii(p.contentId)).second) << p.contentId;
                EXPECT_LE(p.contentId.size(), kMaxPlainContentId) << p.contentId;
            }
            EXPECT_EQ(ids.size(), c.files.size());
            ASSERT_NE(html, nullptr);
            std::vector<std::string> refs = cidReferences(html->bytes);
            ASSERT_EQ(refs.size(), c.files.size()) << html->bytes;
            for (std::size_t i = 0; i < refs.size(); ++i) {
                SCOPED_TRACE("reference " + std::to_string(i) + ": cid:" + refs[i]);
                const test::ReadPart* target = nullptr;
                for (const auto& p : got.parts)
                    if (p.contentId == refs[i]) target = &p;
                ASSERT_NE(target, nullptr) << "no part has this Content-ID";
                EXPECT_EQ(target->bytes, contents[i]) << "names another picture";
                if (i < c.wantIds.size() && !c.wantIds[i].empty()) {
                    EXPECT_EQ(refs[i], c.wantIds[i]);
                }
            }
        }
    }
}

}  // namespace
}  // namespace qm
