// The .eml content step over messages written by Python's email package, by GMime and by hand
// (hostile file names): body, HTML flag, file names and bytes, and the output folder.
#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/file_util.h"
#include "message/eml_content.h"
#include "message/html_tools.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> names(const EmlContent& c) {
    std::vector<std::string> out;
    for (const EmlFile& f : c.files) out.push_back(f.name);
    return out;
}

class PythonWritten : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const std::string cmd =
            "/usr/bin/python3 " QM_TEST_SOURCE_DIR "/write_eml.py '" + dir_->path() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static EmlContent read(const char* name, EmlOptions options = {}) {
        EmlContent c = readEml(readAll(dir_->file(name)), options);
        EXPECT_TRUE(c.ok) << c.error;
        return c;
    }
    static TempDir* dir_;
};
TempDir* PythonWritten::dir_ = nullptr;

TEST_F(PythonWritten, HtmlWithInlinePictureAndAttachment) {
    EmlContent c = read("html_inline.eml", {"EmlOutput/", {}});
    EXPECT_TRUE(c.bodyIsHtml);
    // The known reference names its file (under the prefix); an unknown one stays as it was.
    EXPECT_NE(c.body.find("<img src=\"EmlOutput/logo.png\" alt=\"logo\">"), std::string::npos)
        << c.body;
    EXPECT_NE(c.body.find("src=\"CID:missing@example.org\""), std::string::npos);
    EXPECT_EQ(names(c), (std::vector<std::string>{"logo.png", "report.pdf"}));
    ASSERT_EQ(c.files.size(), 2u);
    EXPECT_EQ(c.files[0].bytes.substr(0, 4), "\x89PNG");
    EXPECT_EQ(c.files[0].contentId, "logo.1@example.org");
    EXPECT_EQ(c.files[1].bytes.size(), 9 + 256 + 7u);  // binary survives base64
}

TEST_F(PythonWritten, BodiesAreDecodedToUtf8) {
    struct Case {
        const char* file;
        bool html;
        const char* body;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"latin1_qp.eml", false, "Grüße aus Köln, à bientôt.\n", {}},
        {"base64_rfc2231.eml", true, "<p>Ünïcödé body 日本</p>", {"Résumé Übersicht.txt"}},
        // The HTML of a nested alternative wins over its plain twin, which is no file; same
        // names get a suffix; the attached message keeps its name.
        {"nested.eml", true, "<b>nested html</b>", {"data.bin", "data-2.bin", "forwarded.eml"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        EmlContent c = read(k.file);
        EXPECT_EQ(c.bodyIsHtml, k.html);
        EXPECT_EQ(c.body.substr(0, std::string(k.body).size()), k.body);
        EXPECT_EQ(names(c), k.files);
    }
    EmlContent nested = read("nested.eml");
    ASSERT_EQ(nested.files.size(), 3u);
    EXPECT_EQ(nested.files[1].bytes, "second");
    EXPECT_NE(nested.files[2].bytes.find("The forwarded text."), std::string::npos);
}

// A message written by GMime itself: alternative inside related, the picture named only by its
// Content-Type "name" parameter.
std::string gmimeWritten() {
    g_mime_init();
    GMimeMessage* msg = g_mime_message_new(TRUE);
    g_mime_message_set_subject(msg, "from gmime", nullptr);
    GMimeMultipart* related = g_mime_multipart_new_with_subtype("related");
    GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
    auto textPart = [](const char* subtype, const char* text) {
        GMimeTextPart* t = g_mime_text_part_new_with_subtype(subtype);
        g_mime_text_part_set_text(t, text);
        return GMIME_OBJECT(t);
    };
    GMimeObject* plain = textPart("plain", "plain ümlaut");
    GMimeObject* html = textPart("html", "<img src='cid:pic%40gm'> h\xC3\xBC");
    g_mime_multipart_add(alt, plain);
    g_mime_multipart_add(alt, html);
    g_mime_multipart_add(related, GMIME_OBJECT(alt));
    GMimePart* pic = g_mime_part_new_with_type("image", "gif");
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(pic), "name", "pic.gif");
    g_mime_object_set_content_id(GMIME_OBJECT(pic), "pic@gm");
    GMimeStream* data = g_mime_stream_mem_new_with_buffer("GIF89a-bytes", 12);
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(data, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(pic, wrapper);
    g_mime_part_set_content_encoding(pic, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(related, GMIME_OBJECT(pic));
    g_mime_message_set_mime_part(msg, GMIME_OBJECT(related));
    gchar* text = g_mime_object_to_string(GMIME_OBJECT(msg), nullptr);
    std::string out = text;
    g_free(text);
    for (GObject* o : {G_OBJECT(wrapper), G_OBJECT(data), G_OBJECT(pic), G_OBJECT(plain),
                       G_OBJECT(html), G_OBJECT(alt), G_OBJECT(related), G_OBJECT(msg)})
        g_object_unref(o);
    return out;
}

TEST(EmlContent, GMimeWrittenMessage) {
    EmlContent c = readEml(gmimeWritten());
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_TRUE(c.bodyIsHtml);
    // The reference is percent-encoded (RFC 2392); it still names the picture.
    EXPECT_EQ(c.body, "<img src='pic.gif'> hü");
    ASSERT_EQ(names(c), std::vector<std::string>{"pic.gif"});
    EXPECT_EQ(c.files[0].bytes, "GIF89a-bytes");
}

std::string withAttachmentNamed(std::string_view header) {
    return "From: a@example.org\r\nSubject: x\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: "
           "text/plain\r\n\r\n"
           "body\r\n--B\r\nContent-Type: application/octet-stream\r\n" +
           std::string(header) + "\r\n\r\nbytes\r\n--B--\r\n";
}

TEST(EmlContent, HostileNamesStayInsideTheFolder) {
    struct Case {
        std::string header;
        const char* want;
    };
    const Case cases[] = {
        {"Content-Disposition: attachment; filename=\"../../x\"", "x"},
        {"Content-Disposition: attachment; filename=\"/etc/x\"", "x"},
        {"Content-Disposition: attachment; filename=\"..\\\\..\\\\win.ini\"", "win.ini"},
        {std::string("Content-Disposition: attachment; filename=\"a\0b\"", 47),
         "a"},  // GMime ends the name at NUL
        {"Content-Disposition: attachment; filename=\"a\x01\x1f\x7f"
         "b.txt\"",
         "ab.txt"},
        {"Content-Disposition: attachment; filename=\"..\"", "part-1.bin"},
        {"Content-Disposition: attachment; filename=\"  . \"", "part-1.bin"},
        {"Content-Disposition: attachment", "part-1.bin"},
        {"Content-Disposition: attachment; filename*=utf-8''..%2F..%2Fevil.sh", "evil.sh"},
        {"Content-Disposition: attachment; filename=\"q\\\"<b>&'.htm\"", "qb.htm"},
        {"Content-Disposition: attachment; filename=\"" + std::string(300, 'n') + ".png\"",
         nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.header);
        EmlContent c = readEml(withAttachmentNamed(k.header));
        ASSERT_TRUE(c.ok);
        ASSERT_EQ(c.files.size(), 1u);
        const std::string& name = c.files[0].name;
        if (k.want) {
            EXPECT_EQ(name, k.want);
        }
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_LE(name.size(), 200u);
        EXPECT_TRUE(name != "." && name != ".." && !name.empty());
    }
    EmlContent longName = readEml(withAttachmentNamed(cases[10].header));
    EXPECT_TRUE(longName.files[0].name.ends_with("nnn.png"));
}

TEST(EmlContent, ExtractEmptiesTheFolderAndWritesTheFiles) {
    TempDir dir;
    const std::string out = dir.file("Eml Output");
    ASSERT_TRUE(makeFolders(out + "/kept folder"));
    dir.write("Eml Output/old.png", "previous import");
    dir.write("outside.txt", "not mine");
    ASSERT_EQ(::symlink(dir.file("outside.txt").c_str(), (out + "/x").c_str()), 0);
    dir.write("m.eml", withAttachmentNamed("Content-Disposition: attachment; filename=\"../x\""));
    EmlExtract e = extractEml(dir.file("m.eml"), out);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_FALSE(e.bodyIsHtml);
    EXPECT_EQ(e.body, "body");
    EXPECT_EQ(e.names, std::vector<std::string>{"x"});
    EXPECT_FALSE(fileExists(out + "/old.png"));
    EXPECT_TRUE(isDirectory(out + "/kept folder"));
    // The link was removed, not written through.
    EXPECT_EQ(readAll(dir.file("outside.txt")), "not mine");
    struct stat st {};
    ASSERT_EQ(::lstat((out + "/x").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(readAll(out + "/x"), "bytes");

    EmlExtract missing = extractEml(dir.file("none.eml"), out);
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.empty());
}

TEST(EmlContent, ReservedNamesAndNoBody) {
    EmlOptions options;
    options.reservedNames = {"body.html"};
    EmlContent c = readEml(
        "Content-Type: image/png\r\nContent-Disposition: inline; filename=body.html\r\n\r\nx",
        options);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.body, "");
    EXPECT_FALSE(c.bodyIsHtml);
    EXPECT_EQ(names(c), std::vector<std::string>{"body-2.html"});
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(EmlImport, AfterTheDialog) {
    test::TempDir dir;
    const std::string mb(1000000, 'x');
    dir.write("a.bin", mb);
    dir.write("b.bin", mb);
    dir.write("c.bin", mb);
    dir.write("small.png", "png");

    CampaignMessage m;
    m.plainText = "kept";
    m.htmlText = "<p>old</p>";
    m.attachments.addFiles({dir.file("small.png")});
    // Cancel: the text stays, the attachments go.
    EXPECT_TRUE(takeEmlImport(m, nullptr, dir.path()).empty());
    EXPECT_EQ(m.plainText, "kept");
    EXPECT_EQ(m.attachments.size(), 0u);

    // Three files of 1 MB: the third is refused, the small one after it still fits; a missing
    // file counts 0 bytes and is listed.
    EmlImportResult r{"<p>new</p>", true, {"a.bin", "b.bin", "c.bin", "small.png", "gone.gif"}};
    std::vector<std::string> shown = takeEmlImport(m, &r, dir.path());
    EXPECT_EQ(shown, std::vector<std::string>{std::string(kMsgAttachmentsTooLarge)});
    EXPECT_EQ(m.attachments.names(),
              (std::vector<std::string>{"a.bin", "b.bin", "small.png", "gone.gif"}));
    EXPECT_EQ(m.attachments.paths()[0], dir.file("a.bin"));
    EXPECT_EQ(m.format, MessageFormat::Html);
    EXPECT_EQ(m.htmlText, "<p>new</p>");
    EXPECT_EQ(m.plainText, "kept");

    EmlImportResult text{"plain body", false, {}};
    takeEmlImport(m, &text, dir.path());
    EXPECT_EQ(m.format, MessageFormat::PlainText);
    EXPECT_EQ(m.plainText, "plain body");
}

// The imported message replaces a wizard page: the checks must read the import, not the page file.
TEST(EmlImport, AddReplacesAnInsertedPageCancelKeepsIt) {
    test::TempDir dir;
    dir.write("page.htm", "<!---Quillmark Generated Template---><p>wizard page</p>");
    auto withPage = [&] {
        CampaignMessage m;
        m.senderName = "Ann";
        m.senderAddress = "ann@example.test";
        m.subject = "Hi";
        EXPECT_TRUE(insertWebPage(m, dir.file("page.htm")).loaded);
        EXPECT_TRUE(m.generatedPage);
        return m;
    };
    CampaignMessage kept = withPage();
    takeEmlImport(kept, nullptr, dir.path());
    EXPECT_TRUE(kept.generatedPage && kept.pageInserted);
    EXPECT_EQ(kept.webPagePath, dir.file("page.htm"));

    CampaignMessage m = withPage();
    EmlImportResult r{"<p>imported</p>", true, {}};
    takeEmlImport(m, &r, dir.path());
    EXPECT_FALSE(m.generatedPage);
    EXPECT_FALSE(m.pageInserted);
    EXPECT_EQ(m.webPagePath, "");
    ASSERT_TRUE(checkMessage(m, false, {}).ok);
    EXPECT_EQ(m.body, "<p>imported</p>");
}

TEST(EmlImport, EditorBaseAndFailedContent) {
    const std::pair<std::string, std::string> bases[] = {
        {"/home/a/quillmark/EmlOutput", "/home/a/quillmark"},
        {"/home/a/quillmark/EmlOutput/", "/home/a/quillmark"},
        {"/EmlOutput", "/"},
        {"EmlOutput", "."},
    };
    for (const auto& [folder, want] : bases) EXPECT_EQ(emlEditorBaseFolder(folder), want) << folder;

    // A failed extraction shows nothing, so Add cannot take an earlier body without its files.
    EmlExtract failed;
    failed.ok = false;
    failed.body = "<p>earlier</p>";
    failed.bodyIsHtml = true;
    failed.names = {"logo.png"};
    EmlImportResult shown = emlDialogContent(failed);
    EXPECT_EQ(shown.body, "");
    EXPECT_FALSE(shown.bodyIsHtml);
    EXPECT_TRUE(shown.names.empty());
    failed.ok = true;
    EXPECT_EQ(emlDialogContent(failed).names, failed.names);
}

}  // namespace
}  // namespace qm
