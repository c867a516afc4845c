// The readable text of HTML pages: a table of pages and the text a reader should see, the
// line width, the charset of what comes out, and hostile pages (nothing crashes, grows past a
// linear bound or keeps a tag).
#include <gtest/gtest.h>

#include <string>

#include "common/charset.h"
#include "message/html_text.h"

namespace qm {
namespace {

TEST(HtmlToText, ReadsAsThePageDoes) {
    struct {
        const char* name;
        std::string html, want;
        std::size_t width = kReadableTextWidth;
    } cases[] = {
        {"paragraphs stand apart by one blank line", "<p>One</p>\n\n<p>Two</p><p></p><p>Three</p>",
         "One\n\nTwo\n\nThree"},
        {"white space collapses", "<p>  a \t b\r\n\r\n c  </p>", "a b c"},
        {"br breaks the line; two make a blank line", "a<br>b<BR/>c<br><br>d<br><br><br><br>e",
         "a\nb\nc\n\nd\n\ne"},
        {"bullets", "<ul><li>One<li>Two</ul>after", "* One\n* Two\n\nafter"},
        {"numbers and start", "<ol><li>a</li><li>b</li></ol><ol start=\"7\"><li>c</li></ol>",
         "1. a\n2. b\n\n7. c"},
        {"nested lists indent", "<ul><li>a<ol><li>b</li><li>c</li></ol></li><li>d</li></ul>",
         "* a\n  1. b\n  2. c\n* d"},
        {"headings underlined", "<h1>Title</h1><p>text</p><h2>Sub</h2>",
         "Title\n=====\n\ntext\n\nSub\n---"},
        {"link as text and url", "<p>See <a href=\"https://x.org/a?b=1&amp;c=2\">our shop</a>.</p>",
         "See our shop <https://x.org/a?b=1&c=2>."},
        {"link whose text is its url", "<a href=\"https://x.org/\">https://x.org/</a>",
         "https://x.org/"},
        {"link whose text is its url without scheme", "<a href='http://x.org/'>x.org</a>", "x.org"},
        {"mailto link whose text is the address", "<a href=\"mailto:a@x.org\">a@x.org</a>",
         "a@x.org"},
        {"anchor and script targets left out",
         "<a href=\"#top\">Top</a> <a href=\"javascript:go()\">Go</a>", "Top Go"},
        {"image link shows its url", "<a href=\"https://x.org\"><img src=\"a.gif\"></a>",
         "<https://x.org>"},
        {"footer link",
         "<Center><BR><A href=\"mailto:u@x.org?Subject=Unsubscribe-A:B\">Send Mail To "
         "u@x.org to unsubscribe.</A></Center></body></html>",
         "Send Mail To u@x.org to unsubscribe. <mailto:u@x.org?Subject=Unsubscribe-A:B>"},
        {"named entities", "caf&eacute; &amp; cr&egrave;me &lt;b&gt; &quot;q&quot; &copy; &euro;",
         "caf\xC3\xA9 & cr\xC3\xA8me <b> \"q\" \xC2\xA9 \xE2\x82\xAC"},
        {"numeric entities", "&#233;&#xE9;&#X20AC;&#150;&#0;&#x110000;&#65",
         "\xC3\xA9\xC3\xA9\xE2\x82\xAC\xE2\x80\x93\xEF\xBF\xBD\xEF\xBF\xBD"
         "A"},
        {"legacy names without semicolon; unknown names kept", "a &amp b &copy c &bogus; &",
         "a & b \xC2\xA9 c &bogus; &"},
        {"nbsp keeps blanks and becomes a blank", "a&nbsp;&nbsp;b", "a  b"},
        {"spacer paragraphs of nbsp add no blank lines",
         "<p>a</p><p>&nbsp;</p>&nbsp;<p>\xC2\xA0 </p><p>b</p>", "a\n\nb"},
        {"nbsp alone on a wrapped line is left out", "p<p>\xA0\n-r", "p\n\n-r", 3},
        {"a pre's last line of nbsp is left out", "<pre>-\n\xA0</pre><p>V", "-\n\nV"},
        {"a pre of nbsp alone is nothing", "F<pre>\xA0\n&nbsp;</pre><p>b", "F\n\nb"},
        {"a pre line of nbsp is a blank line", "F<pre>\xA0\n2\n&nbsp;\n\n3</pre>", "F\n\n2\n\n3"},
        {"leading nbsp indents", "&nbsp;&nbsp;x<br>y", "  x\ny"},
        {"script style head title and comments dropped",
         "<html><head><title>T</title><style>p{color:red}</style><meta charset=utf-8></head>"
         "<body><script>if (a<b) alert('</p>')</script><!-- <p>hidden</p> -->Shown<?x?></body>",
         "Shown"},
        {"unclosed head ends at page text", "<head><title>T</title><p>Hello", "Hello"},
        {"table rows and cells", "<table><tr><td>a</td><td>b</td></tr><tr><th>c</th></tr></table>",
         "a b\nc"},
        {"pre keeps its lines, blank runs as one", "<pre>\n  x = 1\n\n \n\n  y  = 2\n</pre>after",
         "  x = 1\n\n  y  = 2\n\nafter"},
        {"pre's leading blank lines give way to the block's", "<p>a</p><pre> \n\nx</pre>",
         "a\n\nx"},
        {"a lone < is text", "1 < 2 and 3 <4", "1 < 2 and 3 <4"},
        {"unclosed tag ends the page", "text <a href=\"x", "text"},
        {"unclosed comment ends the page", "text <!-- never closed <p>x</p>", "text"},
        {"windows-1252 page", "caf\xE9 \x93q\x94", "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D"},
        {"control bytes dropped", std::string("a\x02") + "b\x7F" + "c", "abc"},
        {"uppercase tags", "<P>A</P><UL><LI>B</LI></UL>", "A\n\n* B"},
        {"empty page", "", ""},
        {"only markup", "<html><body><img src=x></body></html>", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(htmlToText(c.html, c.width), c.want) << c.name;
}

TEST(HtmlToText, WrapsAtTheWidth) {
    const std::string words =
        "The quick brown fox jumps over the lazy dog and then runs far away into the deep dark "
        "forest where nobody will ever find it again.";
    struct {
        const char* name;
        std::string html, want;
        std::size_t width;
    } cases[] = {
        {"paragraph at 78", "<p>" + words + "</p>",
         "The quick brown fox jumps over the lazy dog and then runs far away into the\n"
         "deep dark forest where nobody will ever find it again.",
         78},
        {"list item hangs under its text", "<ol><li>" + words + "</li></ol>",
         "1. The quick brown fox jumps over the lazy dog and then runs far away into the\n"
         "   deep dark forest where nobody will ever find it again.",
         78},
        {"long word alone on its line", "a " + std::string(90, 'x') + " b",
         "a\n" + std::string(90, 'x') + "\nb", 78},
        {"width counts characters, not bytes",
         "\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9",
         "\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\n\xC3\xA9\xC3\xA9\xC3\xA9", 7},
        {"heading underline as wide as its widest line", "<h2>" + words + "</h2>",
         "The quick brown fox jumps over the lazy dog and then runs far away into the\n"
         "deep dark forest where nobody will ever find it again.\n" +
             std::string(75, '-'),
         78},
    };
    for (const auto& c : cases) EXPECT_EQ(htmlToText(c.html, c.width), c.want) << c.name;
}

std::size_t widestLine(const std::string& text) {
    std::size_t widest = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        widest = std::max(widest, userLength(text.substr(pos, eol - pos)));
        pos = eol + 1;
    }
    return widest;
}

// Pages made to hurt: deep nesting, endless markers, huge numbers, half tags. Each must give
// UTF-8 text without a tag, lines within the width wherever blanks allow, and no more than a
// small multiple of the page's size.
TEST(HtmlToText, HostilePagesStayBounded) {
    auto repeat = [](std::string_view s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string pages[] = {
        repeat("<ul><li>", 5000) + "deep",
        repeat("<ol><li>x ", 3000),
        repeat("<li>", 20000),
        repeat("<br>", 20000) + "x",
        repeat("<ol start=99999999999999999999><li>y", 500),
        repeat("<a href=\"https://example.org/very/long/path\">", 2000) + "t" +
            repeat("</a>", 2000),
        repeat("&#99999999999999;&#x;&;&#;", 1000),
        repeat("<h1>", 3000) + "h" + repeat("</h1>", 3000),
        repeat("<pre>", 1000) + repeat(" \n", 1000) + repeat("</pre>", 1000),
        repeat("<head>", 1000) + repeat("<svg><text>x</text>", 1000) + "y",
        repeat("<", 5000) + repeat(">", 5000),
        repeat("<x a=\"1\" b='2' c=3 d e=>", 2000),
        std::string("\0<p>\0a\0</p>", 11),
    };
    for (const auto& page : pages) {
        std::string text = htmlToText(page);
        EXPECT_TRUE(isValidUtf8(text)) << page.substr(0, 40);
        EXPECT_LE(text.size(), 4 * page.size() + 64) << page.substr(0, 40);
        EXPECT_EQ(text.find('\0'), std::string::npos) << page.substr(0, 40);
        EXPECT_EQ(text.find("\n\n\n"), std::string::npos) << page.substr(0, 40);
    }
    // Indents stop growing: a deep item still has room for its words.
    std::string deep = htmlToText(repeat("<ul>", 200) + "<li>" + repeat("word ", 40));
    EXPECT_LE(widestLine(deep), kReadableTextWidth);
}

}  // namespace
}  // namespace qm
