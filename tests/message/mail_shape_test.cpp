// What shapes a copy beyond the message itself: the List-Unsubscribe fields (their exact text, that
// they ask for what the footer link asks for, that the harvest files the request under the right
// group, that two mail readers parse them), the List-Id field of group runs, the footer's markup
// and the text-part choice (the default keeps today's bytes; readable text carries no tag and the
// charset it is in).
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "common/smtp_transparency.h"
#include "common/text.h"
#include "message/fill_message.h"
#include "message/html_text.h"
#include "message/html_tools.h"
#include "message/list_id.h"
#include "message/list_unsubscribe.h"
#include "message/mime_message.h"
#include "mime_readers.h"
#include "subscriptions/unsubscriber_store.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

CampaignMessage unsubscribing(std::string address, UnsubscribeScope scope, std::string url = {}) {
    CampaignMessage m;
    m.unsubscribeAddress = std::move(address);
    m.unsubscribeScope = scope;
    m.unsubscribeUrl = std::move(url);
    return m;
}

constexpr auto kSingle = UnsubscribeScope::SingleGroup;
constexpr auto kAll = UnsubscribeScope::AllGroups;

TEST(ListUnsubscribe, HeaderLines) {
    const std::string longUrl =
        "https://mail.example.com/lists/unsubscribe/one-click?address=[**EMAIL**]"
        "&list=[**GROUP**]";
    struct {
        const char* name;
        CampaignMessage m;
        std::optional<std::string> group;
        std::vector<std::string> want;
    } cases[] = {
        {"group run, single group: blanks as colons",
         unsubscribing("unsub@example.com", kSingle),
         "Spring Buyers",
         {"List-Unsubscribe: <mailto:unsub@example.com?subject=Unsubscribe-Spring:Buyers>"}},
        {"group run, all groups",
         unsubscribing("unsub@example.com", kAll),
         "Spring Buyers",
         {"List-Unsubscribe: <mailto:unsub@example.com?subject=Unsubscribe>"}},
        {"typed addresses and scheduled runs ask for all groups",
         unsubscribing("unsub@example.com", kSingle),
         std::nullopt,
         {"List-Unsubscribe: <mailto:unsub@example.com?subject=Unsubscribe>"}},
        {"no unsubscribe address, no fields", unsubscribing("", kSingle, longUrl), "G", {}},
        {"a group name cannot add a header",
         unsubscribing("u@x.org", kSingle),
         "A\r\nBcc: evil@x.org \xC3\xA9",
         {"List-Unsubscribe: "
          "<mailto:u@x.org?subject=Unsubscribe-A%0D%0ABcc::evil%40x.org:%C3%A9>"}},
        {"mailto: encodes what an address may hold and a URL may not",
         unsubscribing("a%b&c=d#e?f@x.org", kAll),
         std::nullopt,
         {"List-Unsubscribe: <mailto:a%25b%26c%3Dd%23e%3Ff@x.org?subject=Unsubscribe>"}},
        {"a short url on the same line, then the post field",
         unsubscribing("u@x.org", kSingle, "https://x.org/u"),
         "G",
         {"List-Unsubscribe: <mailto:u@x.org?subject=Unsubscribe-G>, <https://x.org/u>",
          "List-Unsubscribe-Post: List-Unsubscribe=One-Click"}},
        {"url folded when the line would pass 78 characters; placeholders filled",
         unsubscribing("u@x.org", kSingle, "https://x.org/u?e=[**EMAIL**]&g=[**GROUP**]"),
         "G 1",
         {"List-Unsubscribe: <mailto:u@x.org?subject=Unsubscribe-G:1>,\r\n"
          " <https://x.org/u?e=bob%40example.org&g=G%201>",
          "List-Unsubscribe-Post: List-Unsubscribe=One-Click"}},
        {"url folded onto its own line; all groups leave the group empty",
         unsubscribing("unsub@example.com", kAll, longUrl),
         "Spring",
         {"List-Unsubscribe: <mailto:unsub@example.com?subject=Unsubscribe>,\r\n"
          " <https://mail.example.com/lists/unsubscribe/one-click?address=bob%40example.org&list=>",
          "List-Unsubscribe-Post: List-Unsubscribe=One-Click"}},
        {"a stored url that is not https gives no url and no post field",
         unsubscribing("u@x.org", kSingle, "http://x.org/u"),
         "G",
         {"List-Unsubscribe: <mailto:u@x.org?subject=Unsubscribe-G>"}},
        {"a url filled past the line limit is left out",
         unsubscribing("u@x.org", kSingle, "https://x.org/[**GROUP**]"),
         std::string(350, ':'),
         {"List-Unsubscribe: <mailto:u@x.org?subject=Unsubscribe-" + std::string(350, ':') + ">"}},
        {"a mailto: line past the limit gives no fields (no file system holds such a group)",
         unsubscribing("u@x.org", kSingle),
         std::string(400, '%'),
         {}},
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> group;
        if (c.group) group = *c.group;
        EXPECT_EQ(listUnsubscribeHeaders(c.m, "bob@example.org", group), c.want) << c.name;
    }
}

std::string percentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// "mailto:ADDR?Subject=S" of the footer link and of the header: address and subject, the field
// name compared without regard to case (RFC 6068).
std::pair<std::string, std::string> mailtoParts(std::string_view url) {
    url.remove_prefix(url.find("mailto:") + 7);
    std::size_t q = url.find('?');
    std::string subject;
    if (q != std::string_view::npos) {
        std::string_view query = url.substr(q + 1);
        EXPECT_TRUE(query.substr(0, 8) == "subject=" || query.substr(0, 8) == "Subject=") << query;
        subject = std::string(query.substr(8));
    }
    return {std::string(url.substr(0, q)), subject};
}

TEST(ListUnsubscribe, AsksWhatTheFooterLinkAsksAndTheHarvestFilesIt) {
    struct {
        const char* name;
        UnsubscribeScope scope;
        std::optional<std::string> group;
        std::string filedUnder;  // the group the mailbox harvest records the sender for
    } cases[] = {
        {"single group", kSingle, "Spring Buyers", "Spring Buyers"},
        {"single group, odd name", kSingle, "Caf\xC3\xA9 & Co+1", "Caf\xC3\xA9 & Co+1"},
        {"all groups", kAll, "Spring Buyers", std::string(kAllGroupsStore)},
        {"typed addresses", kSingle, std::nullopt, std::string(kAllGroupsStore)},
    };
    for (const auto& c : cases) {
        CampaignMessage m = unsubscribing("unsub@example.com", c.scope);
        std::optional<std::string_view> group;
        if (c.group) group = *c.group;
        const std::string header = listUnsubscribeHeaders(m, "bob@example.org", group).at(0);
        const std::size_t open = header.find('<') + 1;
        auto [address, subject] = mailtoParts(header.substr(open, header.find('>') - open));
        std::string footer =
            unsubscribeText(MessageFormat::Html, m.unsubscribeAddress, c.scope, group);
        std::size_t href = footer.find("href=\"") + 6;
        auto [footerAddress, footerSubject] =
            mailtoParts(footer.substr(href, footer.find('"', href) - href));
        EXPECT_EQ(address, footerAddress) << c.name;
        // Typed addresses: the footer asks for no subject; both are filed under all groups.
        if (c.group) {
            EXPECT_EQ(subject, footerSubject) << c.name;
        }
        EXPECT_EQ(requestedGroup(percentDecode(subject)), c.filedUnder) << c.name;
        EXPECT_EQ(requestedGroup(percentDecode(footerSubject)), c.filedUnder) << c.name;
    }
}

TEST(ListUnsubscribe, UrlTemplates) {
    struct {
        const char* url;
        bool usable;
    } cases[] = {
        {"", true},
        {"https://x.org/u?e=[**EMAIL**]&g=[**GROUP**]", true},
        {"HTTPS://x.org/u", true},
        {"https://x.org", true},
        {"http://x.org/u", false},
        {"mailto:u@x.org", false},
        {"https://", false},
        {"https:///path", false},
        {"https://[**EMAIL**]/x", false},
        {"https://x.org/u v", false},
        {"https://x.org/u\r\nBcc: y@z", false},
        {"https://x.org/<u>", false},
        {"https://x.org/caf\xC3\xA9", false},
    };
    for (const auto& c : cases) EXPECT_EQ(checkUnsubscribeUrl(c.url).empty(), c.usable) << c.url;
    EXPECT_FALSE(
        checkUnsubscribeUrl("https://x.org/" + std::string(kMaxUnsubscribeUrl, 'a')).empty());
    EXPECT_EQ(fillUnsubscribeUrl("https://x.org/?e=[**EMAIL**]&e2=[**EMAIL**]&g=[**GROUP**]",
                                 "a+b@x.org", "Caf\xC3\xA9 Co/1"),
              "https://x.org/?e=a%2Bb%40x.org&e2=a%2Bb%40x.org&g=Caf%C3%A9%20Co%2F1");
}

const LocalMoment kMoment{1709647389, 19800};

std::string buildCopy(const CampaignMessage& m, std::optional<std::string_view> group,
                      std::string_view to = "bob@example.org") {
    MimeMessage msg;
    msg.sources.clock = [] { return kMoment; };
    msg.sources.messageId = [](std::string_view d) {
        return "20240305193309.42@" + std::string(d);
    };
    msg.extraHeaders = listHeaders(m, to, group);
    fillMimeMessage(msg, m, to, m.body);
    msg.build();
    return msg.headerBlock + msg.body;
}

CampaignMessage htmlMessage(std::string body) {
    CampaignMessage m;
    m.senderName = "Ann Smith";
    m.senderAddress = "ann@example.com";
    m.subject = "Spring offer";
    m.format = MessageFormat::Html;
    m.body = std::move(body);
    return m;
}

TEST(ListUnsubscribe, TwoReadersParseTheFields) {
    struct {
        const char* name;
        std::string url;
        std::string wantList, wantPost;
    } cases[] = {
        {"mailto only", "", "<mailto:unsub@example.com?subject=Unsubscribe-Spring:Buyers>", ""},
        {"with one-click url", "https://lists.example.com/u?e=[**EMAIL**]&g=[**GROUP**]",
         "<mailto:unsub@example.com?subject=Unsubscribe-Spring:Buyers>, "
         "<https://lists.example.com/u?e=bob%40example.org&g=Spring%20Buyers>",
         "List-Unsubscribe=One-Click"},
    };
    for (const auto& c : cases) {
        CampaignMessage m = htmlMessage("<p>Hello</p>");
        m.unsubscribeAddress = "unsub@example.com";
        m.unsubscribeUrl = c.url;
        m.body = withUnsubscribeText(m.body, m.format, m.unsubscribeAddress, kSingle,
                                     std::string_view("Spring Buyers"));
        const std::string data = buildCopy(m, std::string_view("Spring Buyers"));
        EXPECT_TRUE(hasMailLines(data)) << c.name;
        for (auto [reader, got] : {std::pair{"python", test::readWithPython(data)},
                                   std::pair{"gmime", test::readWithGMime(data)}}) {
            ASSERT_TRUE(got.ok) << reader << ": " << got.error;
            EXPECT_TRUE(got.defects.empty()) << reader << " " << c.name;
            EXPECT_EQ(got.listUnsubscribe, c.wantList) << reader << " " << c.name;
            EXPECT_EQ(got.listUnsubscribePost, c.wantPost) << reader << " " << c.name;
            EXPECT_EQ(got.subject, "Spring offer") << reader;
        }
    }
}

// Exact lines, and what a group name may not do to them: add a field, break the quoting, pass the
// line limit, or share its identifier with another group.
TEST(ListId, HeaderLinesAndSlugs) {
    struct {
        const char* name;
        std::string group, sender, want;
    } cases[] = {
        {"plain name: quoted, blanks as dashes, domain in lower case", "Spring Buyers",
         "ann@Example.COM", "List-Id: \"Spring Buyers\" <spring-buyers.example.com>"},
        {"quote and backslash escaped; what the slug drops adds the name's hash",
         "Say \"Hi\" \\ Co", "ann@example.com",
         "List-Id: \"Say \\\"Hi\\\" \\\\ Co\" <say-hi-co-342c8499.example.com>"},
        {"non-ASCII name: encoded words (phrase-safe), never inside quotes",
         "F\xC3\xAAte d'\xC3\xA9t\xC3\xA9", "ann@example.com",
         "List-Id: =?utf-8?Q?F=C3=AAte_d=27=C3=A9t=C3=A9?=\r\n <f-te-d-t-ec3937b8.example.com>"},
        {"no domain, no field", "Spring", "ann", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(listIdHeader(c.group, c.sender), c.want) << c.name;

    // A line break in the name cannot start a field; a long name folds within the line limit.
    for (const std::string& group :
         {std::string("A\r\nBcc: evil@x.org"), std::string(300, 'w'),
          "Customers " + std::string(40, 'x') + " of the spring and summer season in the north"}) {
        const std::string line = listIdHeader(group, "ann@example.com");
        ASSERT_FALSE(line.empty()) << group;
        for (std::size_t at = line.find("\r\n"); at != std::string::npos;
             at = line.find("\r\n", at + 2))
            EXPECT_TRUE(line[at + 2] == ' ' || line[at + 2] == '\t') << line;
        std::size_t from = 0;
        for (std::size_t at; (at = line.find("\r\n", from)) != std::string::npos; from = at + 2)
            EXPECT_LE(at - from, 78u) << line;
        EXPECT_LE(line.size() - from, 78u) << line;
        EXPECT_EQ(line.find("\nBcc"), std::string::npos) << line;
    }

    // Slugs: stable, one DNS label of safe characters, and one per group (names are unique
    // without regard to case only).
    const std::string names[] = {"Spring Buyers",
                                 "Spring-Buyers",
                                 "Spring  Buyers",
                                 "Spring_Buyers",
                                 "Fete",
                                 "F\xC3\xAAte",
                                 "F\xC3\xABte",
                                 "\xE6\x97\xA5\xE6\x9C\xAC",
                                 "\xE4\xB8\xAD\xE5\x9B\xBD",
                                 std::string(70, 'a'),
                                 std::string(71, 'a'),
                                 "a1"};
    std::set<std::string> seen;
    for (const auto& n : names) {
        const std::string slug = listIdSlug(n);
        SCOPED_TRACE(n);
        EXPECT_EQ(slug, listIdSlug(n));
        EXPECT_EQ(slug, listIdSlug(lowerAscii(n)));
        EXPECT_TRUE(seen.insert(slug).second) << slug;
        ASSERT_FALSE(slug.empty());
        EXPECT_LE(slug.size(), kMaxListIdSlug);
        EXPECT_NE(slug.front(), '-');
        EXPECT_NE(slug.back(), '-');
        for (char c : slug)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') << slug;
    }
    EXPECT_EQ(listIdSlug("Fete"), "fete");
}

// List-Id only when chosen and only on group copies, first of the list fields; off, the fields
// are those of before.
TEST(ListId, OnlyOnGroupCopiesWhenChosen) {
    CampaignMessage m = unsubscribing("u@x.org", kSingle, "https://x.org/u");
    m.senderAddress = "ann@example.com";
    const auto before = listUnsubscribeHeaders(m, "bob@example.org", std::string_view("G"));
    EXPECT_EQ(listHeaders(m, "bob@example.org", std::string_view("G")), before);
    m.listId = true;
    EXPECT_EQ(listHeaders(m, "bob@example.org", std::nullopt),
              listUnsubscribeHeaders(m, "bob@example.org", std::nullopt));
    auto lines = listHeaders(m, "bob@example.org", std::string_view("G"));
    ASSERT_EQ(lines.size(), before.size() + 1);
    EXPECT_EQ(lines[0], "List-Id: \"G\" <g.example.com>");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), before);
    m.unsubscribeAddress.clear();
    EXPECT_EQ(listHeaders(m, "bob@example.org", std::string_view("G")),
              std::vector<std::string>{"List-Id: \"G\" <g.example.com>"});
}

TEST(ListId, TwoReadersReadItBack) {
    const std::string groups[] = {"Spring Buyers", "F\xC3\xAAte d'\xC3\xA9t\xC3\xA9",
                                  "Say \"Hi\" \\ Co",
                                  "Kunden der Fr\xC3\xBChjahrs- und Sommersaison im "
                                  "n\xC3\xB6rdlichen Gebiet zweitausend"};
    for (const auto& group : groups) {
        CampaignMessage m = htmlMessage("<p>Hello</p>");
        m.unsubscribeAddress = "unsub@example.com";
        m.listId = true;
        const std::string data = buildCopy(m, std::string_view(group));
        EXPECT_TRUE(hasMailLines(data)) << group;
        for (auto [reader, got] : {std::pair{"python", test::readWithPython(data)},
                                   std::pair{"gmime", test::readWithGMime(data)}}) {
            ASSERT_TRUE(got.ok) << reader << ": " << got.error;
            EXPECT_TRUE(got.defects.empty()) << reader << " " << group;
            EXPECT_EQ(got.listIdName, group) << reader;
            EXPECT_EQ(got.listId, listIdSlug(group) + ".example.com") << reader;
            EXPECT_FALSE(got.listUnsubscribe.empty()) << reader;
        }
    }
}

// The lower-case footer: the same link, the same text a reader sees, only the tags' case.
TEST(FooterMarkup, LowerCaseChangesOnlyTheTags) {
    for (std::optional<std::string_view> group :
         {std::optional<std::string_view>("Spring Buyers"), std::optional<std::string_view>()}) {
        const std::string classic = unsubscribeText(MessageFormat::Html, "u@x.org", kSingle, group);
        const std::string lower = unsubscribeText(MessageFormat::Html, "u@x.org", kSingle, group,
                                                  FooterMarkup::LowerCase);
        std::string expected = classic;
        for (auto [from, to] : {std::pair{"<Center>", "<center>"},
                                {"</Center>", "</center>"},
                                {"<BR>", "<br>"},
                                {"<A ", "<a "},
                                {"</A>", "</a>"}})
            expected.replace(expected.find(from), std::string_view(from).size(), to);
        EXPECT_EQ(lower, expected);
        EXPECT_EQ(htmlToText(lower, 76), htmlToText(classic, 76));
        for (char c : std::string_view(lower).substr(0, lower.find('"')))
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << lower;
    }
    EXPECT_EQ(unsubscribeText(MessageFormat::Html, "u@x.org", kAll, std::string_view("G"),
                              FooterMarkup::LowerCase),
              "<center><br><a href=\"mailto:u@x.org?Subject=Unsubscribe\">Send Mail To u@x.org to "
              "unsubscribe.</a></center>");
    // Plain text has no markup to spell.
    EXPECT_EQ(unsubscribeText(MessageFormat::PlainText, "u@x.org", kSingle, std::string_view("G"),
                              FooterMarkup::LowerCase),
              unsubscribeText(MessageFormat::PlainText, "u@x.org", kSingle, std::string_view("G")));
}

std::string readGolden(const std::string& file) {
    std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/golden/" + file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The golden HTML copy of the builder's own test, built with every shape field present but at its
// default: byte for byte what it was before the choice existed.
TEST(TextPart, DefaultKeepsTodaysBytes) {
    test::TempDir dir;
    std::string gif(100, '\0'), pdf(200, '\0');
    for (std::size_t i = 0; i < gif.size(); ++i) gif[i] = static_cast<char>((i * 7 + 1) & 0xFF);
    for (std::size_t i = 0; i < pdf.size(); ++i) pdf[i] = static_cast<char>((i * 7 + 2) & 0xFF);
    dir.write("logo.gif", gif);
    dir.write("report.pdf", pdf);
    CampaignMessage m = htmlMessage(
        "<HTML><BODY><P>Price = 10</P><IMG src=\"/pics/logo.gif\">\r\n<P>This line is longer than "
        "seventy-six characters, so the builder breaks it at its last blank before the "
        "limit.</P></BODY></HTML>");
    m.attachments.addFiles({dir.file("logo.gif"), dir.file("report.pdf")});
    rewriteInlineImages(m.body, m.attachments);
    m.textPart = TextPartStyle::HtmlSource;
    m.unsubscribeUrl = "https://x.org/u";  // no unsubscribe address: no fields
    const std::string golden = readGolden("html_inline_attachment.eml");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(buildCopy(m, std::nullopt), golden);

    // Readable text changes the text/plain part and nothing else.
    m.textPart = TextPartStyle::Readable;
    const std::string readable = buildCopy(m, std::nullopt);
    const std::string plainStart =
        "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n";
    const std::size_t a = golden.find(plainStart) + plainStart.size();
    const std::size_t b = readable.find(plainStart) + plainStart.size();
    ASSERT_EQ(golden.compare(0, a, readable, 0, b), 0);
    const std::size_t end = readable.find("\r\n\r\n--_2_", b);
    EXPECT_EQ(readable.substr(b, end - b),
              "Price = 10\r\n\r\nThis line is longer than seventy-six characters, so the builder "
              "breaks it at\r\nits last blank before the limit.");
    EXPECT_EQ(golden.substr(golden.find("\r\n\r\n--_2_", a)), readable.substr(end));
}

TEST(TextPart, ReadableTextCarriesItsCharsetAndNoTag) {
    struct {
        const char* name;
        std::string body;
        std::string wantCharset, wantText;
    } cases[] = {
        {"ascii page", "<p>Hello <b>Bob</b> &amp; co</p>", "", "Hello Bob & co"},
        {"entities beyond ascii", "<p>Caf&eacute; &euro;5</p>", "utf-8",
         "Caf\xC3\xA9 \xE2\x82\xAC"
         "5"},
        {"windows-1252 page", "<p>Caf\xE9</p>", "utf-8", "Caf\xC3\xA9"},
    };
    for (const auto& c : cases) {
        CampaignMessage m = htmlMessage(c.body);
        m.textPart = TextPartStyle::Readable;
        const std::string data = buildCopy(m, std::nullopt);
        for (auto [reader, got] : {std::pair{"python", test::readWithPython(data)},
                                   std::pair{"gmime", test::readWithGMime(data)}}) {
            ASSERT_TRUE(got.ok) << reader << ": " << got.error;
            const test::ReadPart* plain = nullptr;
            for (const auto& p : got.parts)
                if (p.type == "text/plain") plain = &p;
            ASSERT_NE(plain, nullptr) << reader << " " << c.name;
            std::string text = plain->bytes;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            EXPECT_EQ(text, c.wantText) << reader << " " << c.name;
            if (!c.wantCharset.empty()) {
                EXPECT_EQ(plain->charset, c.wantCharset) << reader << " " << c.name;
            }
            EXPECT_EQ(text.find('<'), std::string::npos) << reader << " " << c.name;
        }
    }
}

}  // namespace
}  // namespace qm
