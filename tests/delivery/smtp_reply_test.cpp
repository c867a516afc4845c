// Reply assembly and the transparency step: each case runs whole and in one-byte pieces, and both
// must give the same result.
#include <gtest/gtest.h>

#include "common/smtp_transparency.h"
#include "delivery/smtp_reply.h"

namespace qm {
namespace {

std::vector<SmtpReply> readAll(std::string_view input, std::size_t piece) {
    SmtpReplyReader reader;
    std::vector<SmtpReply> out;
    SmtpReply r;
    for (std::size_t pos = 0; pos < input.size(); pos += piece) {
        reader.feed(input.substr(pos, piece));
        while (reader.next(r) == SmtpReplyReader::Status::Complete) out.push_back(r);
    }
    return out;
}

struct ReplyCase {
    const char* name;
    std::string input;
    std::vector<int> codes;  // one per complete reply
    std::vector<size_t> lineCounts;
};

TEST(SmtpReplyReaderTest, AssemblesRepliesInAnySplit) {
    const ReplyCase cases[] = {
        {"one line", "220 ready\r\n", {220}, {1}},
        {"multi-line", "250-a\r\n250-b\r\n250 c\r\n", {250}, {3}},
        {"bare code line ends a reply", "250-x\r\n250\r\n", {250}, {2}},
        {"two replies in one piece", "250 ok\r\n354 go\r\n", {250, 354}, {1, 1}},
        {"bare LF ends lines", "250-a\n250 b\n", {250}, {2}},
        {"incomplete reply is held back", "250-a\r\n250 b", {}, {}},
        {"not three digits", "hello\r\n", {-1}, {1}},
        {"digits then junk", "25x ok\r\n", {-1}, {1}},
        {"continuation with another code", "250-a\r\n251 b\r\n", {-1}, {2}},
        {"short line", "25\r\n", {-1}, {1}},
        {"empty line", "\r\n250 ok\r\n", {-1, 250}, {1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t piece : {c.input.size() + 1, std::size_t{1}, std::size_t{3}}) {
            auto replies = readAll(c.input, piece);
            ASSERT_EQ(replies.size(), c.codes.size());
            for (std::size_t i = 0; i < replies.size(); ++i) {
                EXPECT_EQ(replies[i].code, c.codes[i]);
                EXPECT_EQ(replies[i].lines.size(), c.lineCounts[i]);
            }
        }
    }
}

TEST(SmtpReplyReaderTest, KeepsLinesAndTextIntact) {
    auto replies = readAll("250-first line\r\n250 second\r\n", 1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].firstLine(), "250-first line");
    EXPECT_EQ(replies[0].text(), "250-first line\r\n250 second\r\n");
}

TEST(SmtpReplyReaderTest, CapsLineLengthAndLineCount) {
    std::string longLine = "250 " + std::string(100000, 'a') + "\r\n";
    auto replies = readAll(longLine, 4096);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 250);
    EXPECT_EQ(replies[0].lines[0].size(), SmtpReplyReader::kMaxLineLength);

    std::string many;
    for (int i = 0; i < 5000; ++i) many += "250-x\r\n";
    many += "250 end\r\n";
    replies = readAll(many, 4096);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 250);
    EXPECT_EQ(replies[0].lines.size(), SmtpReplyReader::kMaxLines);
}

TEST(SmtpReplyReaderTest, ReportsBytesLeftAfterAReply) {
    SmtpReplyReader reader;
    SmtpReply r;
    reader.feed("220 go\r\n250 sneaked in\r\n");
    ASSERT_EQ(reader.next(r), SmtpReplyReader::Status::Complete);
    EXPECT_TRUE(reader.hasPendingInput());
    reader.clear();
    EXPECT_FALSE(reader.hasPendingInput());
}

TEST(SmtpDataTest, Transparency) {
    const std::pair<std::string, std::string> cases[] = {
        {".", ".."},
        {".first\r\nsecond", "..first\r\nsecond"},
        {"a\n.\nb", "a\r\n..\r\nb"},
        {"a\r\n.b\r\n", "a\r\n..b\r\n"},
        {"bare\nLF\n", "bare\r\nLF\r\n"},
        {"mid.dot\r\n", "mid.dot\r\n"},
        {"cr\r.alone", "cr\r\n..alone"},  // a bare CR ends a line too: no smuggling
        {"", ""},
    };
    for (const auto& [in, want] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(smtpTransparency(in), want);
        std::string pieces;
        SmtpTransparency encoder;
        for (char c : in) encoder.feed(std::string_view(&c, 1), pieces);
        encoder.finish(pieces);
        EXPECT_EQ(pieces, want);
    }
}

}  // namespace
}  // namespace qm
