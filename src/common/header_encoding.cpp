#include "common/header_encoding.h"

#include "common/base64.h"
#include "common/charset.h"

namespace qm {

namespace {

constexpr std::size_t kMaxEncodedWord = 75;
// A raw word longer than this cannot be folded onto a line of its own within the fold width.
constexpr std::size_t kMaxRawWord = kHeaderFoldWidth - 8;

bool isAtext(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool isPrintable(char c) {
    return c >= 0x21 && c <= 0x7E;
}

bool isToken(std::string_view v) {
    if (v.empty()) return false;
    for (char c : v)
        if (!isPrintable(c) ||
            std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos)
            return false;
    return true;
}

// Collects tokens onto header lines, folding before a token (at the blank that precedes it) when
// the line would pass the fold width.
class Folder {
  public:
    explicit Folder(std::string_view name) : out_(std::string(name) + ": "), col_(out_.size()) {}

    // After fold() the blank that a token is due is the one that starts the new line.
    void put(std::string_view token, bool blankBefore) {
        if (blankBefore) {
            if (!token.empty() && col_ + 1 + token.size() > kHeaderFoldWidth && col_ > 1) {
                out_ += "\r\n";
                col_ = 0;
            }
            out_ += ' ';
            ++col_;
        }
        out_ += token;
        col_ += token.size();
    }
    // Characters still free on the line if the next token follows a blank.
    void fold() {
        out_ += "\r\n";
        col_ = 0;
    }
    std::string& text() { return out_; }
    std::size_t column() const { return col_; }

  private:
    std::string out_;
    std::size_t col_;
};

// Q encoding (RFC 2047, section 4.2) in its strictest form, valid in phrases too: letters, digits
// and "!*+-/" as they are, blank as "_", every other byte as "=XX". Q rather than B because a run
// split into several words then carries no padding between them, which some readers that join the
// words of a run before decoding cannot take.
void appendQ(std::string& out, unsigned char b) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
        std::string_view("!*+-/").find(static_cast<char>(b)) != std::string_view::npos) {
        out += static_cast<char>(b);
    } else if (b == ' ') {
        out += '_';
    } else {
        out += '=';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}

// Bytes of the character starting at `at` (1 outside UTF-8).
std::size_t characterLength(std::string_view s, std::size_t at, bool utf8) {
    std::size_t len = 1;
    if (utf8)
        while (at + len < s.size() && (static_cast<unsigned char>(s[at + len]) & 0xC0) == 0x80)
            ++len;
    return len;
}

// Writes `run` as encoded words, each holding whole characters and sized to the room left on its
// line; every word but the first follows a blank, and the first too when `blankBefore`.
void putEncodedRun(Folder& f, std::string_view run, std::string_view charset, bool blankBefore) {
    const std::size_t overhead = charset.size() + 7;  // "=?" charset "?Q?" ... "?="
    const bool utf8 = charset == "utf-8";
    std::size_t at = 0;
    while (at < run.size()) {
        std::size_t used = f.column() + (blankBefore ? 1 : 0);
        std::size_t room = used < kHeaderFoldWidth ? kHeaderFoldWidth - used : 0;
        if (room < overhead + 12 && blankBefore) {
            f.fold();
            room = kHeaderFoldWidth - 1;
        }
        room = std::min(room, kMaxEncodedWord) - overhead;
        std::string text;
        while (at < run.size()) {
            std::size_t len = characterLength(run, at, utf8);
            std::string piece;
            for (std::size_t k = 0; k < len; ++k)
                appendQ(piece, static_cast<unsigned char>(run[at + k]));
            if (!text.empty() && text.size() + piece.size() > room) break;
            text += piece;
            at += len;
        }
        f.put("=?" + std::string(charset) + "?Q?" + text + "?=", blankBefore);
        blankBefore = true;
    }
}

// Splits `value` at blanks; words that `rawOk` accepts are written as they are, every maximal run
// of other words (with the blanks between them) becomes encoded words.
template <typename RawOk>
void putWords(Folder& f, std::string_view value, std::string_view charset, RawOk rawOk,
              bool first) {
    std::vector<std::string_view> words;
    for (std::size_t pos = 0;;) {
        std::size_t sp = value.find(' ', pos);
        words.push_back(
            value.substr(pos, sp == std::string_view::npos ? std::string_view::npos : sp - pos));
        if (sp == std::string_view::npos) break;
        pos = sp + 1;
    }
    auto raw = [&](std::string_view w) { return w.empty() || rawOk(w); };
    for (std::size_t i = 0; i < words.size();) {
        if (raw(words[i])) {
            f.put(words[i], !first);
            first = false;
            ++i;
            continue;
        }
        // The run ends at the last word that needs encoding before the next raw, non-empty word.
        std::size_t end = i, j = i;
        while (j < words.size() && (words[j].empty() || !raw(words[j]))) {
            if (!words[j].empty()) end = j;
            ++j;
        }
        const char* b = words[i].data();
        const char* e = words[end].data() + words[end].size();
        putEncodedRun(f, std::string_view(b, static_cast<std::size_t>(e - b)), charset, !first);
        first = false;
        i = end + 1;
    }
}

bool unstructuredRawOk(std::string_view w) {
    if (w.size() > kMaxRawWord || w.find("=?") != std::string_view::npos) return false;
    for (char c : w)
        if (!isPrintable(c)) return false;
    return true;
}

bool phraseRawOk(std::string_view w) {
    if (w.size() > kMaxRawWord || w.find("=?") != std::string_view::npos) return false;
    for (char c : w)
        if (!isAtext(c)) return false;
    return true;
}

bool fitsAsIs(std::size_t column, std::string_view value) {
    if (column + value.size() > kHeaderFoldWidth || value.find("=?") != std::string_view::npos)
        return false;
    for (char c : value)
        if (!isPrintable(c) && c != ' ') return false;
    return true;
}

std::string_view headerCharset(std::string_view text) {
    std::string_view cs = charsetFor(text);
    return cs == "us-ascii" ? std::string_view("utf-8") : cs;
}

}  // namespace

std::string headerSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inBreak = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!inBreak) out += ' ';
            inBreak = true;
            continue;
        }
        inBreak = false;
        if (c != '\0') out += c;
    }
    return out;
}

std::string unstructuredHeader(std::string_view name, std::string_view value) {
    std::string safe = headerSafe(value);
    Folder f(name);
    if (fitsAsIs(f.column(), safe)) {
        f.text() += safe;
        return std::move(f.text());
    }
    putWords(f, safe, headerCharset(safe), unstructuredRawOk, true);
    return std::move(f.text());
}

std::string mailboxHeader(std::string_view name, const std::vector<Mailbox>& mailboxes) {
    Folder f(name);
    bool first = true;
    for (std::size_t k = 0; k < mailboxes.size(); ++k) {
        std::string display = headerSafe(mailboxes[k].displayName);
        std::string angle = "<" + headerSafe(mailboxes[k].address) + ">";
        if (k + 1 < mailboxes.size()) angle += ',';
        bool plain = true;
        for (char c : display) plain = plain && (isAtext(c) || c == ' ');
        if (plain && fitsAsIs(f.column() + (first ? 0 : 1), display + angle)) {
            f.put(display + angle, !first);  // the fixed layout: no blank before "<"
        } else {
            if (!display.empty()) {
                putWords(f, display, headerCharset(display), phraseRawOk, first);
                first = false;
            }
            f.put(angle, !first);
        }
        first = false;
    }
    return std::move(f.text());
}

std::string mimeParameter(std::string_view attribute, std::string_view value, std::size_t& column) {
    std::string safe = headerSafe(value);
    std::string attr(attribute);
    auto place = [&](const std::string& piece) {
        // piece is "attr=value"; it goes on the current line when it fits, else on a folded one.
        std::string out;
        if (column + 2 + piece.size() <= kHeaderFoldWidth) {
            out = "; " + piece;
            column += 2 + piece.size();
        } else {
            out = ";\r\n\t" + piece;
            column = 1 + piece.size();
        }
        return out;
    };
    if (isToken(safe) && 1 + attr.size() + 1 + safe.size() <= kHeaderFoldWidth)
        return place(attr + "=" + safe);
    bool printable = true;
    for (char c : safe) printable = printable && (isPrintable(c) || c == ' ');
    if (printable) {
        std::string quoted = "\"";
        for (char c : safe) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
        if (1 + attr.size() + 1 + quoted.size() <= kHeaderFoldWidth)
            return place(attr + "=" + quoted);
    }
    // RFC 2231: charset'' then percent-encoded bytes outside the attribute characters.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> units;  // one character or one %XX each, never split
    for (char c : safe) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
        if (keep) {
            units.emplace_back(1, c);
        } else {
            auto b = static_cast<unsigned char>(c);
            units.push_back({'%', kHex[b >> 4], kHex[b & 15]});
        }
    }
    std::string charset(headerCharset(safe));
    std::string whole = charset + "''";
    for (const auto& u : units) whole += u;
    if (1 + attr.size() + 2 + whole.size() <= kHeaderFoldWidth) return place(attr + "*=" + whole);
    std::string out;
    std::size_t u = 0;
    for (int n = 0; u < units.size() || n == 0; ++n) {
        std::string head = attr + "*" + std::to_string(n) + "*=";
        std::string piece = n == 0 ? charset + "''" : std::string();
        // Room on the folded line: tab, head, piece, and the ";" of the next piece.
        while (u < units.size() &&
               1 + head.size() + piece.size() + units[u].size() + 1 <= kHeaderFoldWidth)
            piece += units[u++];
        out += ";\r\n\t" + head + piece;
        column = 1 + head.size() + piece.size();
    }
    return out;
}

}  // namespace qm
