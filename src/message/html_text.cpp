#include "message/html_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/charset.h"

namespace qm {

namespace {

// Stands for a non-breaking space in the line being gathered: never a wrap point, never collapsed,
// written as a blank. Control bytes of the page are dropped, so it cannot come from there.
constexpr char kNbsp = '\x01';

struct NamedReference {
    std::string_view name;
    char32_t cp;
};

constexpr NamedReference kNamed[] = {
    {"amp", 0x26},      {"lt", 0x3C},       {"gt", 0x3E},       {"quot", 0x22},
    {"apos", 0x27},     {"nbsp", 0xA0},     {"copy", 0xA9},     {"reg", 0xAE},
    {"trade", 0x2122},  {"hellip", 0x2026}, {"mdash", 0x2014},  {"ndash", 0x2013},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"laquo", 0xAB},    {"raquo", 0xBB},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"bull", 0x2022},   {"middot", 0xB7},
    {"euro", 0x20AC},   {"pound", 0xA3},    {"yen", 0xA5},      {"cent", 0xA2},
    {"curren", 0xA4},   {"sect", 0xA7},     {"para", 0xB6},     {"deg", 0xB0},
    {"plusmn", 0xB1},   {"times", 0xD7},    {"divide", 0xF7},   {"micro", 0xB5},
    {"iexcl", 0xA1},    {"iquest", 0xBF},   {"ordf", 0xAA},     {"ordm", 0xBA},
    {"sup1", 0xB9},     {"sup2", 0xB2},     {"sup3", 0xB3},     {"frac14", 0xBC},
    {"frac12", 0xBD},   {"frac34", 0xBE},   {"acute", 0xB4},    {"uml", 0xA8},
    {"cedil", 0xB8},    {"macr", 0xAF},     {"not", 0xAC},      {"brvbar", 0xA6},
    {"shy", 0xAD},      {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
    {"prime", 0x2032},  {"larr", 0x2190},   {"rarr", 0x2192},   {"uarr", 0x2191},
    {"darr", 0x2193},   {"harr", 0x2194},   {"ensp", 0x2002},   {"emsp", 0x2003},
    {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},
    {"rlm", 0x200F},    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},    {"circ", 0x2C6},
    {"tilde", 0x2DC},
};

// The Latin-1 letters U+00C0 to U+00FF by name (the two signs among them are in kNamed).
constexpr std::array<std::string_view, 64> kLatinLetters = {
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig", "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc", "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",  "",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN", "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig", "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc", "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",  "",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn", "yuml"};

// Pages written by hand often leave the ";" off these.
bool isLegacyName(std::string_view name) {
    return name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "nbsp" ||
           name == "copy" || name == "reg";
}

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::optional<char32_t> namedReference(std::string_view name) {
    for (const auto& e : kNamed)
        if (e.name == name) return e.cp;
    for (std::size_t i = 0; i < kLatinLetters.size(); ++i)
        if (!kLatinLetters[i].empty() && kLatinLetters[i] == name)
            return static_cast<char32_t>(0xC0 + i);
    return std::nullopt;
}

// What a numeric reference stands for; 0 for nothing (control characters are dropped).
char32_t numericReference(std::uint32_t value) {
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0xFFFD;
    if (value >= 0x80 && value <= 0x9F) {
        // As Windows-1252 reads the byte, the way browsers read these references.
        std::string one = storedToUtf8(std::string(1, static_cast<char>(value)));
        char32_t cp = 0;
        for (unsigned char b : one) cp = (b & 0xC0) == 0x80 ? (cp << 6) | (b & 0x3F) : b & 0x1F;
        return cp >= 0xA0 ? cp : 0xFFFD;
    }
    if (value < 0x20 && value != '\t' && value != '\n' && value != '\r' && value != '\f') return 0;
    if (value == 0x7F) return 0;
    return value;
}

// A character reference at text[pos] ("&..."): its length and what it stands for (0: nothing).
// Length 0 when none starts there.
std::size_t readReference(std::string_view text, std::size_t pos, char32_t& cp) {
    std::size_t i = pos + 1;
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex) ++i;
        std::size_t digitsStart = i;
        std::uint32_t value = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                break;
            // Saturates past the last code point, whatever the number of digits.
            value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + d, 0x110000);
        }
        if (i == digitsStart) return 0;
        if (i < text.size() && text[i] == ';') ++i;
        cp = numericReference(value);
        return i - pos;
    }
    std::size_t nameStart = i;
    while (i < text.size() && i - nameStart < 32 && isAsciiAlnum(text[i])) ++i;
    std::string_view name = text.substr(nameStart, i - nameStart);
    if (name.empty()) return 0;
    auto found = namedReference(name);
    if (!found) return 0;
    if (i < text.size() && text[i] == ';') {
        cp = *found;
        return i + 1 - pos;
    }
    if (!isLegacyName(name) || (i < text.size() && text[i] == '=')) return 0;
    cp = *found;
    return i - pos;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Code points of UTF-8 text.
std::size_t columns(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// An attribute value with its references decoded (a non-breaking space as a blank).
std::string decodeAttribute(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size();) {
        char32_t cp = 0;
        std::size_t n = value[i] == '&' ? readReference(value, i, cp) : 0;
        if (n == 0) {
            out += value[i++];
            continue;
        }
        if (cp != 0) appendUtf8(out, cp == 0xA0 ? U' ' : cp);
        i += n;
    }
    return out;
}

// A link target fit to stand between angle brackets on one line: outer blanks trimmed, line
// breaks and tabs dropped as browsers drop them, inner blanks and brackets percent-encoded.
std::string cleanHref(std::string_view raw) {
    std::string decoded = decodeAttribute(raw);
    std::string_view v = decoded;
    while (!v.empty() && isHtmlSpace(v.front())) v.remove_prefix(1);
    while (!v.empty() && isHtmlSpace(v.back())) v.remove_suffix(1);
    std::string out;
    for (char c : v) {
        auto b = static_cast<unsigned char>(c);
        if (c == '\t' || c == '\n' || c == '\r' || b < 0x20 || b == 0x7F) continue;
        if (c == ' ')
            out += "%20";
        else if (c == '<')
            out += "%3C";
        else if (c == '>')
            out += "%3E";
        else
            out += c;
    }
    return out;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerChar(s[i]) != prefix[i]) return false;
    return true;
}

// True when the link's text already says where it goes.
bool textIsTarget(std::string_view text, std::string_view href) {
    if (text == href) return true;
    for (std::string_view scheme : {"mailto:", "http://", "https://"})
        if (startsWithNoCase(href, scheme) && href.substr(scheme.size()) == text) return true;
    // "example.com/" written as "example.com".
    if (!href.empty() && href.back() == '/' && text == href.substr(0, href.size() - 1)) return true;
    for (std::string_view scheme : {"http://", "https://"})
        if (startsWithNoCase(href, scheme) && href.back() == '/' &&
            href.substr(scheme.size(), href.size() - scheme.size() - 1) == text)
            return true;
    return false;
}

enum class Tag {
    Other,
    Br,
    P,
    Block,  // starts and ends a line
    Heading,
    List,
    Item,
    Cell,
    Row,
    Anchor,
    Pre,
    Raw,  // contents dropped unread (script, style, ...)
    Head,
    Body,
    Svg,  // contents dropped, tags read
    HeadOnly,
};

struct TagInfo {
    Tag tag;
    int level = 0;  // heading level; 1 for an ordered list
};

TagInfo classify(std::string_view name) {
    static constexpr std::string_view kBlocks[] = {
        "div",    "center",     "dt",      "dd",      "address", "section", "article",
        "header", "footer",     "nav",     "aside",   "main",    "form",    "fieldset",
        "figure", "figcaption", "caption", "details", "summary", "table",   "tbody",
        "thead",  "tfoot",      "legend",  "option"};
    static constexpr std::string_view kParagraphs[] = {"p", "blockquote", "dl", "hr"};
    static constexpr std::string_view kRaw[] = {"script",   "style",    "title",    "textarea",
                                                "xmp",      "noembed",  "noframes", "iframe",
                                                "template", "plaintext"};
    // What may stand in a head without ending it (raw-text elements aside).
    static constexpr std::string_view kHeadOnly[] = {"meta", "link",     "base",    "html",
                                                     "head", "basefont", "bgsound", "noscript"};
    if (name == "br") return {Tag::Br};
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6')
        return {Tag::Heading, name[1] - '0'};
    if (name == "ul" || name == "menu" || name == "dir") return {Tag::List, 0};
    if (name == "ol") return {Tag::List, 1};
    if (name == "li") return {Tag::Item};
    if (name == "td" || name == "th") return {Tag::Cell};
    if (name == "tr") return {Tag::Row};
    if (name == "a") return {Tag::Anchor};
    if (name == "pre" || name == "listing") return {Tag::Pre};
    if (name == "head") return {Tag::Head};
    if (name == "body") return {Tag::Body};
    if (name == "svg" || name == "math") return {Tag::Svg};
    for (auto p : kParagraphs)
        if (name == p) return {Tag::P};
    for (auto b : kBlocks)
        if (name == b) return {Tag::Block};
    for (auto r : kRaw)
        if (name == r) return {Tag::Raw};
    for (auto h : kHeadOnly)
        if (name == h) return {Tag::HeadOnly};
    return {Tag::Other};
}

struct ListLevel {
    bool ordered = false;
    long long next = 1;
    std::size_t hang = 0;  // width of the present item's marker
};

class Renderer {
  public:
    explicit Renderer(std::size_t width) : width_(std::max<std::size_t>(width, 1)) {}

    // Text of the page (UTF-8), references already decoded; `nbsp` marks decoded U+00A0.
    void text(std::string_view s) {
        if (dropText()) return;
        for (char c : s) addChar(c);
    }
    void codePoint(char32_t cp) {
        if (dropText() || cp == 0 || cp == 0xAD) return;
        if (cp == 0xA0) {
            line_ += kNbsp;
            return;
        }
        if (cp < 0x80) {
            addChar(static_cast<char>(cp));
            return;
        }
        appendUtf8(line_, cp);
    }

    void startTag(std::string_view name, std::string_view href, std::string_view start) {
        TagInfo t = classify(name);
        // Page text in a head that was never closed: browsers end the head there.
        if (inHead_ && t.tag != Tag::HeadOnly && t.tag != Tag::Head) inHead_ = false;
        if (edge(t.tag)) return;
        switch (t.tag) {
            case Tag::Heading:
                boundary(2);
                heading_ = t.level;
                break;
            case Tag::List:
                boundary(lists_.empty() && listOverflow_ == 0 ? 2 : 1);
                marker_.clear();
                if (lists_.size() < kMaxListLevels)
                    lists_.push_back({t.level == 1, parseStart(start), 0});
                else
                    ++listOverflow_;
                break;
            case Tag::Item:
                startItem();
                break;
            case Tag::Cell:
                if (!line_.empty() && line_.back() != ' ') line_ += ' ';
                break;
            case Tag::Anchor:
                endAnchor();
                anchor_ = true;
                href_ = cleanHref(href);
                anchorStart_ = line_.size();
                anchorFlushes_ = flushes_;
                break;
            case Tag::Pre:
                boundary(2);
                ++pre_;
                break;
            case Tag::Head:
                inHead_ = true;
                break;
            case Tag::Body:
                inHead_ = false;
                break;
            case Tag::Svg:
                ++svg_;
                break;
            case Tag::Br:
            case Tag::P:
            case Tag::Block:
            case Tag::Row:  // edge()
            case Tag::Raw:
            case Tag::HeadOnly:
            case Tag::Other:
                break;
        }
    }

    void endTag(std::string_view name) {
        TagInfo t = classify(name);
        if (edge(t.tag)) return;
        switch (t.tag) {
            case Tag::Item:
                boundary(1);
                break;
            case Tag::Heading:
                endHeading();
                break;
            case Tag::List:
                if (listOverflow_ > 0)
                    --listOverflow_;
                else if (!lists_.empty())
                    lists_.pop_back();
                boundary(lists_.empty() ? 2 : 1);
                marker_.clear();
                break;
            case Tag::Anchor:
                endAnchor();
                break;
            case Tag::Pre:
                boundary(2);
                if (pre_ > 0) --pre_;
                break;
            case Tag::Head:
                inHead_ = false;
                break;
            case Tag::Svg:
                if (svg_ > 0) --svg_;
                break;
            case Tag::Br:
            case Tag::P:
            case Tag::Block:
            case Tag::Row:  // edge()
            case Tag::Cell:
            case Tag::Body:
            case Tag::Raw:
            case Tag::HeadOnly:
            case Tag::Other:
                break;
        }
    }

    // What both ends of a line-breaking element do (a closing </br> breaks too, as in browsers);
    // false for any other element.
    bool edge(Tag tag) {
        switch (tag) {
            case Tag::Br:
                lineBreak();
                return true;
            case Tag::P:
                boundary(2);
                return true;
            case Tag::Block:
            case Tag::Row:
                boundary(1);
                return true;
            default:
                return false;
        }
    }

    std::string finish() {
        endAnchor();
        flush();
        return std::move(out_);
    }

  private:
    static constexpr std::size_t kMaxListLevels = 64;

    bool dropText() const { return inHead_ || svg_ > 0; }

    void addChar(char c) {
        auto b = static_cast<unsigned char>(c);
        if (pre_ > 0) {
            if (c == '\r') return;  // CR LF and lone CR: the LF (or nothing) stays
            if (c == '\n' || c == '\t' || (b >= 0x20 && b != 0x7F)) line_ += c == '\t' ? ' ' : c;
            return;
        }
        if (isHtmlSpace(c)) {
            if (!line_.empty() && line_.back() != ' ') line_ += ' ';
            return;
        }
        if (b < 0x20 || b == 0x7F) return;
        line_ += c;
    }

    static long long parseStart(std::string_view s) {
        long long v = 0;
        std::size_t i = 0;
        while (i < s.size() && isHtmlSpace(s[i])) ++i;
        std::size_t digits = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 9; ++i, ++digits)
            v = v * 10 + (s[i] - '0');
        return digits == 0 ? 1 : v;
    }

    void startItem() {
        boundary(1);
        if (lists_.empty()) {
            marker_ = "* ";
            return;
        }
        ListLevel& l = lists_.back();
        marker_ = l.ordered ? std::to_string(l.next++) + ". " : "* ";
        l.hang = marker_.size();
    }

    void lineBreak() {
        flush();
        pending_ = std::min(pending_ + 1, 2);
    }

    void boundary(int lines) {
        flush();
        pending_ = std::max(pending_, lines);
    }

    void endHeading() {
        std::size_t w = flush();
        if (heading_ > 0 && w > 0) {
            out_ += '\n';
            out_.append(std::min(w, width_), heading_ == 1 ? '=' : '-');
        }
        heading_ = 0;
        pending_ = std::max(pending_, 2);
    }

    void endAnchor() {
        if (!anchor_) return;
        anchor_ = false;
        if (href_.empty() || href_.front() == '#' || startsWithNoCase(href_, "javascript:")) return;
        std::string_view shown = line_;
        if (flushes_ == anchorFlushes_ && anchorStart_ <= line_.size())
            shown.remove_prefix(anchorStart_);
        std::string text(shown);
        std::replace(text.begin(), text.end(), kNbsp, ' ');
        std::string_view t = text;
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        if (textIsTarget(t, href_)) return;
        if (!line_.empty() && line_.back() != ' ') line_ += ' ';
        line_ += '<';
        line_ += href_;
        line_ += '>';
    }

    std::string prefix(bool first) const {
        std::string p;
        std::size_t depth = lists_.size() + listOverflow_;
        if (depth > 1) p.append(2 * (std::min<std::size_t>(depth, kMaxListIndentLevels) - 1), ' ');
        if (first && !marker_.empty())
            p += marker_;
        else if (!lists_.empty())
            p.append(lists_.back().hang, ' ');
        return p;
    }

    // Writes one line (kNbsp as a blank, no trailing blanks); returns its width.
    std::size_t emitLine(std::string_view content, bool first) {
        std::string line = prefix(first) + std::string(content);
        std::replace(line.begin(), line.end(), kNbsp, ' ');
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!out_.empty()) out_ += '\n';
        out_ += line;
        return columns(line);
    }

    // Writes the gathered text as lines; returns the widest line's width (0: nothing written).
    std::size_t flush() {
        std::string_view text = line_;
        if (pre_ == 0) {
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            // A spacer such as <p>&nbsp;</p> is blank: the separation around it already stands.
            if (isBlank(text)) text = {};
        } else {
            while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
            // Blank lines at the end, non-breaking spaces included, would stand before the
            // separation that follows.
            static constexpr char kBlankLines[] = {' ', '\n', kNbsp};
            const std::size_t last = text.find_last_not_of(std::string_view(kBlankLines, 3));
            text = last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
        }
        std::size_t widest = 0;
        if (!text.empty()) {
            if (!out_.empty())
                out_.append(static_cast<std::size_t>(std::max(pending_, 1)) - 1, '\n');
            bool first = true;
            auto put = [&](std::string_view l) {
                // Non-breaking spaces alone on a wrapped line would print as a blank line; pre
                // keeps its own (single) blank lines.
                if (pre_ == 0 && isBlank(l)) return;
                widest = std::max(widest, emitLine(l, first));
                if (first) marker_.clear();
                first = false;
            };
            if (pre_ > 0)
                splitPre(text, put);
            else
                wrap(text, put);
            pending_ = 0;
        }
        line_.clear();
        ++flushes_;
        return widest;
    }

    template <class Put>
    void splitPre(std::string_view text, Put& put) {
        bool blank = true;  // the block's own separation stands before the first line
        for (std::size_t pos = 0;;) {
            std::size_t eol = text.find('\n', pos);
            std::string_view line =
                text.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
            // One blank line at most here too, as between blocks.
            const bool lineIsBlank = isBlank(line);
            if (!(lineIsBlank && blank)) put(line);
            blank = lineIsBlank;
            if (eol == std::string_view::npos) return;
            pos = eol + 1;
        }
    }

    template <class Put>
    void wrap(std::string_view text, Put& put) {
        auto roomFor = [this](bool first) {
            std::size_t taken = prefix(first).size();  // blanks and ASCII markers
            return width_ > taken ? width_ - taken : 1;
        };
        std::size_t lineStart = 0, lineEnd = 0, used = 0;
        std::size_t room = roomFor(true);
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t sp = text.find(' ', pos);
            std::size_t end = sp == std::string_view::npos ? text.size() : sp;
            std::size_t w = columns(text.substr(pos, end - pos));
            if (used > 0 && used + 1 + w > room) {
                put(text.substr(lineStart, lineEnd - lineStart));
                room = roomFor(false);
                lineStart = pos;
                used = 0;
            }
            used += (used > 0 ? 1 : 0) + w;
            lineEnd = end;
            pos = end + 1;
        }
        if (lineEnd > lineStart) put(text.substr(lineStart, lineEnd - lineStart));
    }

    static bool isBlank(std::string_view s) {
        static constexpr char kBlanks[] = {' ', kNbsp};
        return s.find_first_not_of(std::string_view(kBlanks, 2)) == std::string_view::npos;
    }

    std::size_t width_;
    std::string out_;
    std::string line_;  // text gathered since the last line was written
    int pending_ = 0;   // line ends owed before the next text (2: a blank line)
    std::size_t flushes_ = 0;
    std::vector<ListLevel> lists_;
    std::size_t listOverflow_ = 0;
    std::string marker_;  // the present item's marker, until its first line is out
    int heading_ = 0;
    int pre_ = 0;
    int svg_ = 0;
    bool inHead_ = false;
    bool anchor_ = false;
    std::string href_;
    std::size_t anchorStart_ = 0;
    std::size_t anchorFlushes_ = 0;
};

// The position after the ">" that ends a tag starting at `pos`, honouring quoted values; npos
// when the page ends first. Fills the tag's name and the values the renderer wants.
std::size_t readStartTag(std::string_view html, std::size_t pos, std::string& name,
                         std::string& href, std::string& start) {
    std::size_t i = pos + 1;
    while (i < html.size() && !isHtmlSpace(html[i]) && html[i] != '/' && html[i] != '>')
        name += lowerChar(html[i++]);
    for (;;) {
        while (i < html.size() && (isHtmlSpace(html[i]) || html[i] == '/')) ++i;
        if (i >= html.size()) return std::string_view::npos;
        if (html[i] == '>') return i + 1;
        std::string attr;
        while (i < html.size() && !isHtmlSpace(html[i]) && html[i] != '/' && html[i] != '>' &&
               (html[i] != '=' || attr.empty()))
            attr += lowerChar(html[i++]);
        while (i < html.size() && isHtmlSpace(html[i])) ++i;
        if (i >= html.size() || html[i] != '=') continue;
        ++i;
        while (i < html.size() && isHtmlSpace(html[i])) ++i;
        if (i >= html.size()) return std::string_view::npos;
        std::string_view value;
        if (html[i] == '"' || html[i] == '\'') {
            std::size_t close = html.find(html[i], i + 1);
            if (close == std::string_view::npos) return std::string_view::npos;
            value = html.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            std::size_t b = i;
            while (i < html.size() && !isHtmlSpace(html[i]) && html[i] != '>') ++i;
            value = html.substr(b, i - b);
        }
        if (attr == "href")
            href.assign(value);
        else if (attr == "start")
            start.assign(value);
    }
}

// Where the contents of a raw-text element that opened before `pos` end: after its end tag, or
// npos when it has none.
std::size_t skipRawText(std::string_view html, std::size_t pos, std::string_view name) {
    for (std::size_t at = html.find("</", pos); at != std::string_view::npos;
         at = html.find("</", at + 2)) {
        if (!startsWithNoCase(html.substr(at + 2), name)) continue;
        std::size_t after = at + 2 + name.size();
        if (after < html.size() && (isAsciiAlnum(html[after]) || html[after] == '-')) continue;
        std::size_t close = html.find('>', after);
        return close == std::string_view::npos ? close : close + 1;
    }
    return std::string_view::npos;
}

}  // namespace

std::string htmlToText(std::string_view html, std::size_t width) {
    const std::string page = storedToUtf8(html);
    std::string_view s = page;
    Renderer r(width);
    std::size_t i = 0;
    std::size_t textStart = 0;
    auto flushText = [&](std::size_t end) {
        if (end > textStart) r.text(s.substr(textStart, end - textStart));
    };
    while (i < s.size()) {
        char c = s[i];
        if (c == '&') {
            char32_t cp = 0;
            std::size_t n = readReference(s, i, cp);
            if (n == 0) {
                ++i;
                continue;
            }
            flushText(i);
            r.codePoint(cp);
            i += n;
            textStart = i;
            continue;
        }
        if (c == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') {
            flushText(i);
            r.codePoint(0xA0);
            i += 2;
            textStart = i;
            continue;
        }
        if (c != '<' || i + 1 >= s.size()) {
            ++i;
            continue;
        }
        char next = s[i + 1];
        std::size_t after;
        if (next == '!' && s.compare(i, 4, "<!--") == 0) {
            std::size_t end = s.find("-->", i + 4);
            after = end == std::string_view::npos ? end : end + 3;
            flushText(i);
        } else if (next == '!' || next == '?' ||
                   (next == '/' && (i + 2 >= s.size() || !isAsciiAlpha(s[i + 2])))) {
            std::size_t end = s.find('>', i + 2);
            after = end == std::string_view::npos ? end : end + 1;
            flushText(i);
        } else if (next == '/') {
            std::size_t end = s.find('>', i + 2);
            flushText(i);
            std::string name;
            for (std::size_t k = i + 2; k < s.size() && !isHtmlSpace(s[k]) && s[k] != '/' &&
                                        s[k] != '>' && name.size() < 16;
                 ++k)
                name += lowerChar(s[k]);
            after = end == std::string_view::npos ? end : end + 1;
            if (after != std::string_view::npos) r.endTag(name);
        } else if (isAsciiAlpha(next)) {
            flushText(i);
            std::string name, href, start;
            after = readStartTag(s, i, name, href, start);
            if (after != std::string_view::npos) {
                if (classify(name).tag == Tag::Raw)
                    after = skipRawText(s, after, name);
                else
                    r.startTag(name, href, start);
            }
        } else {
            ++i;  // a "<" that starts no markup is text
            continue;
        }
        if (after == std::string_view::npos) {
            textStart = i = s.size();
            break;
        }
        textStart = i = after;
    }
    flushText(s.size());
    return r.finish();
}

}  // namespace qm
