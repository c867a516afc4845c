// The mail codecs, each checked whole, fed in one-byte pieces where it streams, against an
// independent decoder (OpenSSL for base64, GMime for quoted-printable and encoded words), and over
// random inputs.
#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <random>

#include "common/base64.h"
#include "common/charset.h"
#include "common/header_encoding.h"
#include "common/quoted_printable.h"
#include "common/smtp_transparency.h"
#include "common/time_format.h"

namespace qm {
namespace {

std::string randomBytes(std::mt19937& rng, std::size_t n, int alphabet = 256) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() % alphabet);
    return s;
}

std::string evpEncode(std::string_view in) {
    std::string out((in.size() + 2) / 3 * 4 + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()),
                            static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Every line of `text` ends in CR LF and none is longer than `width`.
::testing::AssertionResult linesWithin(const std::string& text, std::size_t width) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) return ::testing::AssertionFailure() << "no CR LF at the end";
        if (end - start > width)
            return ::testing::AssertionFailure()
                   << "line of " << end - start << ": " << text.substr(start, end - start);
        if (text.substr(start, end - start).find_first_of("\r\n") != std::string::npos)
            return ::testing::AssertionFailure() << "bare line end inside a line";
        start = end + 2;
    }
    return ::testing::AssertionSuccess();
}

TEST(Base64, KnownVectorsAndAgreementWithOpenSsl) {
    struct {
        std::string in, want;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"foobar", "Zm9vYmFy"},
                 {"user\xff\xfe", "dXNlcv/+"}};
    for (const auto& c : cases) EXPECT_EQ(base64Encode(c.in), c.want) << c.in;
    // Every length around the wide steps and their tails, random content.
    std::mt19937 rng(7);
    for (std::size_t n = 0; n < 400; ++n) {
        std::string in = randomBytes(rng, n);
        ASSERT_EQ(base64Encode(in), evpEncode(in)) << "length " << n;
    }
}

TEST(Base64, MimeLinesWholeAndByteByByte) {
    // 57 bytes make exactly one 76-character line; 58 a second line of 4 ending in "==".
    std::string l57, l58;
    appendBase64Lines(std::string(57, 'a'), l57);
    appendBase64Lines(std::string(58, 'a'), l58);
    EXPECT_EQ(l57, base64Encode(std::string(57, 'a')) + "\r\n");
    EXPECT_EQ(l58.substr(78), "YQ==\r\n");

    std::mt19937 rng(11);
    for (std::size_t n : {0, 1, 56, 57, 58, 113, 114, 115, 1000, 29982, 30001}) {
        std::string in = randomBytes(rng, n);
        std::string whole;
        appendBase64Lines(in, whole);
        EXPECT_EQ(whole.size(), base64LinesSize(n));
        std::string pieces;
        Base64LineEncoder enc(pieces);
        for (char c : in) enc.feed({&c, 1});
        enc.finish();
        ASSERT_EQ(pieces, whole) << "length " << n;
        EXPECT_TRUE(linesWithin(whole, 76));
        std::string joined;
        for (std::size_t i = 0; i < whole.size(); i += 78) joined += whole.substr(i, 76);
        EXPECT_EQ(joined.substr(0, evpEncode(in).size()), evpEncode(in));
    }
}

std::string gmimeQpDecode(const std::string& in) {
    std::string out(in.size() + 8, '\0');
    int state = 0;
    guint32 save = 0;
    std::size_t n = g_mime_encoding_quoted_decode_step(
        reinterpret_cast<const unsigned char*>(in.data()), in.size(),
        reinterpret_cast<unsigned char*>(out.data()), &state, &save);
    out.resize(n);
    return out;
}

TEST(QuotedPrintable, Cases) {
    struct {
        const char* name;
        std::string in, want;
        std::string_view also = {};
    } cases[] = {
        {"plain text unchanged", "Hello, world.\r\nBye", "Hello, world.\r\nBye"},
        {"equals escaped", "a=b", "a=3Db"},
        {"8-bit bytes", "caf\xc3\xa9", "caf=C3=A9"},
        {"blank before a line end", "end \r\nnext\t", "end=20\r\nnext=09"},
        {"blank inside a line kept", "a b", "a b"},
        {"bare CR and LF encoded", "a\rb\nc", "a=0Db=0Ac"},
        {"control and DEL", std::string("\x01\x7f", 2), "=01=7F"},
        {"extra characters", "a_b", "a=5Fb", "_"},
        {"76 characters stay one line", std::string(76, 'x'), std::string(76, 'x')},
        {"77 characters get a soft break", std::string(77, 'x'), std::string(75, 'x') + "=\r\nxx"},
        {"a triple is never split",
         std::string(74, 'x') + "==", std::string(74, 'x') + "=\r\n=3D=3D"},
    };
    for (const auto& c : cases) {
        std::string got = quotedPrintableEncode(c.in, c.also);
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_TRUE(isQuotedPrintableReady(got)) << c.name;
        EXPECT_EQ(gmimeQpDecode(got), c.in) << c.name;
    }
    // What the builder's own "=" escape leaves is ready only when nothing else is needed.
    EXPECT_TRUE(isQuotedPrintableReady("a=3Db\r\nc d"));
    EXPECT_FALSE(isQuotedPrintableReady("a=b"));
    EXPECT_FALSE(isQuotedPrintableReady("a=3d"));
    EXPECT_FALSE(isQuotedPrintableReady("trailing \r\nx"));
    EXPECT_FALSE(isQuotedPrintableReady("caf\xe9"));
    EXPECT_FALSE(isQuotedPrintableReady(std::string(77, 'x')));
}

TEST(QuotedPrintable, EveryByteAndRandomRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        std::string in(1, static_cast<char>(b));
        std::string enc = quotedPrintableEncode("x" + in + "x");
        EXPECT_TRUE(isQuotedPrintableReady(enc)) << b;
        EXPECT_EQ(gmimeQpDecode(enc), "x" + in + "x") << b;
        EXPECT_EQ(quotedPrintableDecode(enc), "x" + in + "x") << b;
    }
    std::mt19937 rng(3);
    for (int i = 0; i < 2000; ++i) {
        // Few distinct bytes so that blanks, CR LF pairs and long lines all come up often.
        static const char kPick[] = {' ', '\t', '\r', '\n', '=', 'a', 'b', '.', '\xe9', '\0'};
        std::string in(rng() % 300, 'a');
        for (auto& c : in) c = kPick[rng() % sizeof kPick];
        std::string enc = quotedPrintableEncode(in);
        ASSERT_TRUE(isQuotedPrintableReady(enc)) << i;
        ASSERT_EQ(gmimeQpDecode(enc), in) << i;
    }
}

std::string unfold(const std::string& folded) {
    std::string unfolded;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (folded.compare(i, 2, "\r\n") == 0) {
            ++i;
            continue;
        }
        unfolded += folded[i];
    }
    return unfolded;
}

// Decodes the value after "Name: ".
std::string gmimeDecodeHeader(const std::string& folded) {
    std::string unfolded = unfold(folded);
    std::string value = unfolded.substr(unfolded.find(": ") + 2);
    char* decoded = g_mime_utils_header_decode_text(nullptr, value.c_str());
    std::string out = decoded;
    g_free(decoded);
    return out;
}

// Header lines within 78 characters and every encoded word within 75.
::testing::AssertionResult wellFolded(const std::string& header) {
    auto r = linesWithin(header + "\r\n", 78);
    if (!r) return r;
    for (std::size_t at = header.find("=?"); at != std::string::npos;
         at = header.find("=?", at + 2)) {
        std::size_t end = header.find("?=", header.find("?Q?", at) + 3);
        if (end - at + 2 > 75) return ::testing::AssertionFailure() << "long word in " << header;
        at = end;
    }
    return ::testing::AssertionSuccess();
}

TEST(HeaderEncoding, UnstructuredCases) {
    g_mime_init();
    struct {
        const char* name;
        std::string in, want, decoded;
    } cases[] = {
        {"plain ASCII unchanged", "Spring offer", "Subject: Spring offer", "Spring offer"},
        {"line breaks cannot start a header", "Hi\r\nBcc: victim@x.com",
         "Subject: Hi Bcc: victim@x.com", "Hi Bcc: victim@x.com"},
        {"NUL dropped", std::string("a\0b", 3), "Subject: ab", "ab"},
        {"non-ASCII encoded, ASCII words kept", "Caf\xc3\xa9 deals today",
         "Subject: =?utf-8?Q?Caf=C3=A9?= deals today", "Caf\xc3\xa9 deals today"},
        {"adjacent non-ASCII words share one word", "\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris",
         "Subject: =?utf-8?Q?=C3=A9t=C3=A9_=C3=A0?= Paris", "\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris"},
        {"Latin-1 bytes labelled as such", "Caf\xe9",
         "Subject: =?iso-8859-1?Q?Caf=E9?=", "Caf\xc3\xa9"},
        {"text that looks encoded is encoded", "=?x?", "Subject: =?utf-8?Q?=3D=3Fx=3F?=", "=?x?"},
    };
    for (const auto& c : cases) {
        std::string got = unstructuredHeader("Subject", c.in);
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(gmimeDecodeHeader(got), c.decoded) << c.name;
    }
    // A long ASCII subject folds at blanks without losing any.
    std::string longAscii;
    for (int i = 0; i < 30; ++i) longAscii += "word" + std::to_string(i) + " ";
    longAscii.pop_back();
    std::string folded = unstructuredHeader("Subject", longAscii);
    EXPECT_TRUE(wellFolded(folded));
    EXPECT_EQ(gmimeDecodeHeader(folded), longAscii);
}

TEST(HeaderEncoding, RandomTextRoundTripsThroughGMime) {
    g_mime_init();
    std::mt19937 rng(5);
    const std::string longWord(90, 'q');  // too long for a line of its own
    const char* pieces[] = {
        "a", "Z", " ",  "\xc3\xa9", "\xe2\x82\xac",  "\xf0\x9f\x93\xa7", "=?", "word", "\xd0\x96",
        ".", ",", "\"", "<",        longWord.c_str()};
    for (int i = 0; i < 500; ++i) {
        std::string text;
        int n = 1 + static_cast<int>(rng() % 40);
        for (int k = 0; k < n; ++k) text += pieces[rng() % 14];
        // Blanks at the ends and in runs are not kept by a header reader.
        while (!text.empty() && text.front() == ' ') text.erase(0, 1);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        for (std::size_t p; (p = text.find("  ")) != std::string::npos;) text.erase(p, 1);
        std::string subject = unstructuredHeader("Subject", text);
        ASSERT_TRUE(wellFolded(subject)) << text;
        ASSERT_EQ(gmimeDecodeHeader(subject), text) << subject;
        std::string from = mailboxHeader("From", {{text, "a@b.com"}});
        ASSERT_TRUE(linesWithin(from + "\r\n", 998)) << from;
        InternetAddressList* list =
            internet_address_list_parse(nullptr, unfold(from).substr(6).c_str());
        ASSERT_TRUE(list && internet_address_list_length(list) == 1) << from;
        InternetAddress* a = internet_address_list_get_address(list, 0);
        const char* name = internet_address_get_name(a);
        EXPECT_EQ(std::string(name ? name : ""), text) << from;
        g_object_unref(list);
    }
}

TEST(HeaderEncoding, MailboxesAndParameters) {
    EXPECT_EQ(mailboxHeader("From", {{"Ann Smith", "ann@x.com"}}), "From: Ann Smith<ann@x.com>");
    EXPECT_EQ(mailboxHeader("To", {{"", "bob@x.com"}}), "To: <bob@x.com>");
    EXPECT_EQ(mailboxHeader("To", {{"", "a@x.com"}, {"B", "b@x.com"}}),
              "To: <a@x.com>, B<b@x.com>");
    EXPECT_EQ(mailboxHeader("From", {{"Jos\xc3\xa9", "j@x.com"}}),
              "From: =?utf-8?Q?Jos=C3=A9?= <j@x.com>");
    EXPECT_EQ(mailboxHeader("From", {{"Evil\r\nBcc: v@x.com", "e@x.com"}}).find('\n'),
              std::string::npos);

    struct {
        const char* name;
        std::string value, want;
    } params[] = {
        {"token kept", "report.pdf", "; filename=report.pdf"},
        {"blank quoted", "my report.pdf", "; filename=\"my report.pdf\""},
        {"quote escaped", "a\"b.txt", "; filename=\"a\\\"b.txt\""},
        {"non-ASCII in RFC 2231 form", "r\xc3\xa9sum\xc3\xa9.pdf",
         "; filename*=utf-8''r%C3%A9sum%C3%A9.pdf"},
        {"line break never reaches the header", "a\r\nb.txt", "; filename=\"a b.txt\""},
    };
    for (const auto& p : params) {
        std::size_t column = 31;
        EXPECT_EQ(mimeParameter("filename", p.value, column), p.want) << p.name;
    }
    std::size_t column = 31;
    std::string longName;
    for (int i = 0; i < 40; ++i) longName += "\xc3\xa9";
    std::string folded = mimeParameter("filename", longName + ".txt", column);
    EXPECT_EQ(folded.rfind(";\r\n\tfilename*0*=utf-8''%C3%A9", 0), 0u) << folded;
    EXPECT_NE(folded.find("filename*1*="), std::string::npos);
    EXPECT_TRUE(linesWithin(folded.substr(3) + "\r\n", 78));
}

TEST(Charset, Labels) {
    EXPECT_EQ(charsetFor("plain"), "us-ascii");
    EXPECT_EQ(charsetFor("caf\xc3\xa9"), "utf-8");
    EXPECT_EQ(charsetFor("caf\xe9"), "iso-8859-1");
    EXPECT_EQ(charsetFor("\x93quoted\x94"), "windows-1252");
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));      // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));  // surrogate
    EXPECT_FALSE(isValidUtf8("\xe2\x82"));      // cut short
    EXPECT_TRUE(isValidUtf8("\xf0\x9f\x93\xa7"));
}

TEST(SmtpTransparency, CasesWholeAndByteByByte) {
    struct {
        const char* name;
        std::string in, want;
    } cases[] = {
        {"dot on the first line", ".hidden\r\n", "..hidden\r\n"},
        {"lone dot line cannot end DATA", "a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"dot inside a line untouched", "a.b\r\n", "a.b\r\n"},
        {"bare LF repaired", "a\nb\n", "a\r\nb\r\n"},
        {"bare CR repaired", "a\rb", "a\r\nb"},
        {"bare LF then dot", "a\n.\n", "a\r\n..\r\n"},
        {"bare CR then dot", "a\r.b", "a\r\n..b"},
        {"CR at the very end", "a\r", "a\r\n"},
        {"CR CR LF", "a\r\r\nb", "a\r\n\r\nb"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(smtpTransparency(c.in), c.want) << c.name;
        std::string pieces;
        SmtpTransparency t;
        for (char ch : c.in) t.feed({&ch, 1}, pieces);
        t.finish(pieces);
        EXPECT_EQ(pieces, c.want) << c.name;
    }
    std::mt19937 rng(9);
    for (int i = 0; i < 1000; ++i) {
        static const char kPick[] = {'\r', '\n', '.', 'a'};
        std::string in(rng() % 60, 'a');
        for (auto& c : in) c = kPick[rng() % 4];
        std::string out = smtpTransparency(in);
        std::string pieces;
        SmtpTransparency t;
        for (std::size_t k = 0; k < in.size(); k += 3)
            t.feed(std::string_view(in).substr(k, 3), pieces);
        t.finish(pieces);
        ASSERT_EQ(pieces, out) << i;
        // Undoing the dot-stuffing gives the text with repaired line ends.
        std::string undone;
        bool lineStart = true;
        for (std::size_t k = 0; k < out.size(); ++k) {
            if (lineStart && out[k] == '.') ++k;
            if (k < out.size()) undone += out[k];
            lineStart = k < out.size() && out[k] == '\n';
        }
        ASSERT_EQ(undone, normaliseLineEnds(in)) << i;
        ASSERT_TRUE(linesWithin(
            out + (out.size() >= 2 && out.substr(out.size() - 2) == "\r\n" ? "" : "\r\n"), 1000));
    }
}

TEST(SmtpTransparency, MailLines) {
    EXPECT_TRUE(hasMailLines(""));
    EXPECT_TRUE(hasMailLines("a\r\nb"));
    EXPECT_TRUE(hasMailLines(std::string(998, 'x') + "\r\n" + std::string(998, 'x')));
    EXPECT_FALSE(hasMailLines(std::string(999, 'x')));
    EXPECT_FALSE(hasMailLines(std::string(999, 'x') + "\r\n"));
    EXPECT_FALSE(hasMailLines("a\nb"));
    EXPECT_FALSE(hasMailLines("a\rb"));
    EXPECT_FALSE(hasMailLines("a\r"));
}

TEST(MailDate, ZonesAndCalendar) {
    struct {
        std::int64_t utc;
        int offset;
        const char* want;
    } cases[] = {
        {1709647389, 19800, "Tue, 05 Mar 2024 19:33:09 +0530"},
        {1709647389, -12600, "Tue, 05 Mar 2024 10:33:09 -0330"},
        {1709647389, 0, "Tue, 05 Mar 2024 14:03:09 +0000"},
        {951782400, 0, "Tue, 29 Feb 2000 00:00:00 +0000"},
        {0, -3600, "Wed, 31 Dec 1969 23:00:00 -0100"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatMailDate({c.utc, c.offset}), c.want);
}

TEST(MailDate, SystemZoneOffsets) {
    // POSIX zone strings need no zone database; each test runs in its own process.
    struct {
        const char* tz;
        int offset;
    } cases[] = {{"IST-5:30", 19800}, {"NST3:30", -12600}, {"UTC0", 0}};
    for (const auto& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(systemLocalMoment().offsetSeconds, c.offset) << c.tz;
    }
    unsetenv("TZ");
    tzset();
}

TEST(LocalTime, TypedStartMoments) {
    setenv("TZ", "UTC0", 1);
    tzset();
    struct {
        const char* text;
        std::int64_t want;  // -1: refused
    } cases[] = {
        {"2027-01-01 10:00", 1798797600}, {"2027-01-01 10:00:59", 1798797659},
        {"2028-02-29 00:00", 1835395200},  // a leap day
        {"2027-01-01 10:00xyz", -1},      {"2027-01-01 10:00:00 ", -1},
        {"2027-01-01 10:00:0", -1},       {" 2027-01-01 10:00", -1},
        {"2027-1-01 10:00", -1},          {"2027-01-01T10:00", -1},
        {"2027-01-01 +9:00", -1},         {"2027-02-29 10:00", -1},  // not a leap year
        {"2027-04-31 10:00", -1},         {"2027-13-01 10:00", -1},
        {"2027-01-01 24:00", -1},         {"2027-01-01 10:60", -1},
        {"2027-01-01 10:00:60", -1},      {"", -1},
    };
    for (const auto& c : cases) {
        std::time_t t = 0;
        bool ok = parseLocalTime(c.text, t);
        EXPECT_EQ(ok ? static_cast<std::int64_t>(t) : -1, c.want) << '"' << c.text << '"';
    }
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace qm
