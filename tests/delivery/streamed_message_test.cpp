// A message streamed from its pieces (personalised text + the run's shared encoded attachments)
// puts the same bytes on the wire as the whole built message did: built both ways for several
// shapes and sent through the client to a scripted server; and the transparency step carries its
// state across piece and block boundaries (dots and line ends split between pieces).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/smtp_transparency.h"
#include "delivery/smtp_client.h"
#include "fake_server.h"
#include "message/attachment_cache.h"
#include "message/fill_message.h"
#include "message/html_tools.h"
#include "message/mime_message.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// What the client sent after DATA before this change: the header block, the body through the
// transparency step, the end-of-data line.
std::string wireBytes(std::string_view header, std::string_view body) {
    return std::string(header) + smtpTransparency(body) + "\r\n.\r\n";
}

TEST(StreamedMessageTest, PiecesTakeTheSameBytesToTheServerAsTheWholeMessage) {
    test::TempDir dir;
    std::string pattern(70000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 13 + 5);
    dir.write("big.bin", pattern);
    dir.write("logo.gif", pattern.substr(0, 300));
    dir.write("note.txt", ".starts with a dot\r\n.\r\n");
    struct Case {
        const char* name;
        MessageFormat format;
        std::string body;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"plain text", MessageFormat::PlainText, "Hello [name],\r\n.a dot line\r\n..two\r\n.", {}},
        {"HTML",
         MessageFormat::Html,
         "<HTML><BODY><P>Price = 10</P>\r\n.<P>x</P></BODY></HTML>",
         {}},
        {"plain with attachments",
         MessageFormat::PlainText,
         ".dot first\r\nend",
         {"big.bin", "note.txt"}},
        {"HTML with an inline picture and an attachment",
         MessageFormat::Html,
         "<HTML><BODY><IMG src=\"/pics/logo.gif\">\r\n.<P>after</P></BODY></HTML>",
         {"logo.gif", "big.bin"}},
        // Text parts the builder's scan found in shape skip the transparency step.
        {"no dots anywhere, with an attachment",
         MessageFormat::Html,
         "<HTML><BODY><P>Plain</P>\r\n<P>lines</P></BODY></HTML>",
         {"big.bin"}},
        {"a text that needs wrapping",
         MessageFormat::PlainText,
         std::string(50, 'w') + " " + std::string(50, 'x') + "\r\n." + std::string(90, 'y'),
         {"note.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CampaignMessage m;
        m.senderName = "Ann";
        m.senderAddress = "ann@example.test";
        m.subject = "Offer";
        m.format = c.format;
        m.body = c.body;
        std::vector<std::string> files;
        for (const auto& f : c.files) files.push_back(dir.file(f));
        m.attachments.addFiles(files);
        if (m.isHtml()) rewriteInlineImages(m.body, m.attachments);

        AttachmentCache cache;
        MimeSources sources{[] {
                                return LocalMoment{1709647389, 0};
                            },
                            [](std::string_view d) { return "fixed@" + std::string(d); }, &cache,
                            nullptr};
        MimeMessage whole, pieces;
        whole.sources = pieces.sources = sources;
        pieces.shareAttachments = true;
        fillMimeMessage(whole, m, "bob@x.test", m.body);
        fillMimeMessage(pieces, m, "bob@x.test", m.body);
        whole.build();
        pieces.build();
        ASSERT_EQ(pieces.headerBlock, whole.headerBlock);
        EXPECT_EQ(pieces.body, "");
        EXPECT_EQ(pieces.wholeBody(), whole.body);
        // Each attachment is a view of the cache's one encoding, not a copy.
        std::size_t shared = 0;
        for (const auto& p : pieces.bodyPieces)
            if (p.shared) {
                ++shared;
                EXPECT_EQ(p.shared.use_count(), 2);  // the cache and this message
            }
        EXPECT_EQ(shared, c.files.size());
        EXPECT_EQ(cache.encodeCount(), c.files.size());

        test::FakeServer server(
            {test::send("220 strict.test ESMTP\r\n"), test::expect("HELO \r\n"),
             test::send("250 strict.test\r\n"), test::expect("MAIL From: <ann@example.test>\r\n"),
             test::send("250 2.1.0 Ok\r\n"), test::expect("RCPT TO: <bob@x.test>\r\n"),
             test::send("250 2.1.5 Ok\r\n"), test::expect("DATA\r\n"), test::send("354 go\r\n"),
             test::readData(), test::send("250 2.0.0 Ok\r\n"), test::expect("QUIT\r\n"),
             test::send("221 Bye\r\n")});
        {
            SmtpClient client("127.0.0.1", server.port());
            client.setServer("127.0.0.1", server.port());
            client.setTimeouts(SmtpTimeouts::uniform(test::kPatient));
            ASSERT_TRUE(client.connect());
            SmtpMessage smtp{pieces.envelopeSender, {"bob@x.test"}, pieces.headerBlock, {}, {}};
            for (const auto& p : pieces.bodyPieces)
                smtp.bodyPieces.push_back({p.text(), p.wireReady});
            EXPECT_TRUE(client.sendMessage(smtp)) << client.lastError();
            EXPECT_TRUE(client.disconnect());
        }
        server.finish();
        EXPECT_EQ(server.mismatch(), "");
        const std::string& got = server.received();
        std::size_t data = got.find("DATA\r\n");
        ASSERT_NE(data, std::string::npos);
        std::string sent = got.substr(data + 6, got.rfind("QUIT\r\n") - data - 6);
        EXPECT_TRUE(sent == wireBytes(whole.headerBlock, whole.body))
            << "streamed bytes differ from the whole message's (" << sent.size() << " against "
            << wireBytes(whole.headerBlock, whole.body).size() << " bytes)";
    }
}

TEST(StreamedMessageTest, TransparencyCarriesAcrossPieceAndBlockBoundaries) {
    const std::vector<std::vector<std::string>> splits = {
        {"a\r", "\n.b\r\n", ".", "\r\n..x"},    // CR LF and a leading dot split apart
        {".", "first line\r", "\n", ".\r\n"},   // a dot on the very first line
        {"bare\n", ".lf\r", "", "x\r", "\r."},  // bare LF, bare CR, an empty piece
        {"ends with a CR\r"},                   // held to the end
        {"no line end at all"},
        {},
    };
    const std::string header = "Subject: x\r\n\r\n";
    for (const auto& split : splits) {
        std::string joined;
        std::vector<DataPiece> views;
        for (const auto& p : split) {
            joined += p;
            views.push_back({p, false});
        }
        SCOPED_TRACE(joined);
        const std::string want = wireBytes(header, joined);
        for (std::size_t block :
             {std::size_t{1}, std::size_t{3}, std::size_t{17}, std::size_t{65536}}) {
            std::string got;
            int writes = 0;
            ASSERT_TRUE(streamMessageData(header, views, block, [&](std::string_view b) {
                got += b;
                ++writes;
                return true;
            }));
            EXPECT_EQ(got, want) << "block " << block;
            if (block == 65536) {
                EXPECT_EQ(writes, 1);  // a small message is one write
            }
        }
        // A failed write ends the transfer there.
        int calls = 0;
        EXPECT_FALSE(streamMessageData(header, views, 1, [&](std::string_view) {
            ++calls;
            return false;
        }));
        EXPECT_EQ(calls, 1);
    }
    // Pieces vouched for are copied as they stand, and the state around them still carries: a CR
    // held before one is completed, a dot after one is doubled.
    const std::vector<DataPiece> mixed = {{"a\r", false},
                                          {"line\r\nnext\r\n", true},
                                          {".dot\r", false},
                                          {"\r\n", true},
                                          {".", false}};
    std::string joined, got;
    for (const auto& p : mixed) joined += p.text;
    ASSERT_TRUE(streamMessageData(header, mixed, 4, [&](std::string_view b) {
        got += b;
        return true;
    }));
    EXPECT_EQ(got, wireBytes(header, joined));
}

}  // namespace
}  // namespace qm
