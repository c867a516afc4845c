#include "common/quoted_printable.h"

namespace qm {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kMaxLine = 76;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string quotedPrintableEncode(std::string_view text, std::string_view alsoEncode) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 16);
    std::size_t col = 0;
    auto put = [&](std::string_view piece, bool lastOnLine) {
        // Room for the piece, plus the "=" of a soft break unless the line ends right after it.
        std::size_t limit = lastOnLine ? kMaxLine : kMaxLine - 1;
        if (col + piece.size() > limit) {
            out += "=\r\n";
            col = 0;
        }
        out += piece;
        col += piece.size();
    };
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
            out += "\r\n";
            col = 0;
            ++i;
            continue;
        }
        bool lineEndsNext = i + 1 == n || (text[i + 1] == '\r' && i + 2 < n && text[i + 2] == '\n');
        auto b = static_cast<unsigned char>(c);
        bool literal =
            (b >= 33 && b <= 126 && c != '=' && alsoEncode.find(c) == std::string_view::npos) ||
            ((c == ' ' || c == '\t') && !lineEndsNext);
        if (literal) {
            put({&c, 1}, lineEndsNext);
        } else {
            char triple[3] = {'=', kHex[b >> 4], kHex[b & 15]};
            put({triple, 3}, lineEndsNext);
        }
    }
    return out;
}

bool isQuotedPrintableReady(std::string_view text) {
    std::size_t col = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            if (i + 1 >= n || text[i + 1] != '\n') return false;
            if (i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t')) return false;
            ++i;
            col = 0;
            continue;
        }
        if (c == '=' && i + 2 < n && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;  // soft break
            col = 0;
            continue;
        }
        if (c == '=') {
            if (i + 2 >= n || !isUpperHex(text[i + 1]) || !isUpperHex(text[i + 2])) return false;
            i += 2;
            col += 3;
        } else if ((b >= 33 && b <= 126) || c == ' ' || c == '\t') {
            ++col;
        } else {
            return false;
        }
        if (col > kMaxLine) return false;
    }
    return n == 0 || (text[n - 1] != ' ' && text[n - 1] != '\t');
}

std::string quotedPrintableDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c == '=') {
            if (i + 2 < n && text[i + 1] == '\r' && text[i + 2] == '\n') {
                i += 2;
                continue;
            }
            if (i + 2 < n && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
                out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
                i += 2;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace qm
