#include "common/smtp_transparency.h"

#include <algorithm>
#include <cstring>

namespace qm {

namespace {

// Position of the next CR or LF at or after `from`, or the size.
std::size_t nextBreak(std::string_view s, std::size_t from) {
    const char* p = s.data();
    for (std::size_t i = from; i < s.size(); ++i)
        if (p[i] == '\r' || p[i] == '\n') return i;
    return s.size();
}

}  // namespace

void SmtpTransparency::feed(std::string_view piece, std::string& out) {
    std::size_t i = 0;
    const std::size_t n = piece.size();
    while (i < n) {
        if (heldCr_) {
            heldCr_ = false;
            out += "\r\n";
            lineStart_ = true;
            if (piece[i] == '\n') {
                ++i;
                continue;
            }
        }
        char c = piece[i];
        if (c == '\r') {
            heldCr_ = true;
            ++i;
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
            lineStart_ = true;
            ++i;
            continue;
        }
        if (lineStart_ && c == '.') out += '.';
        lineStart_ = false;
        std::size_t end = nextBreak(piece, i);
        out.append(piece.data() + i, end - i);
        i = end;
    }
}

void SmtpTransparency::passThrough(std::string_view piece, std::string& out) {
    if (piece.empty()) return;
    if (heldCr_) out += "\r\n";  // the piece cannot start with the LF that would pair with it
    heldCr_ = false;
    out.append(piece);
    lineStart_ = piece.back() == '\n';
}

void SmtpTransparency::finish(std::string& out) {
    if (heldCr_) out += "\r\n";
    heldCr_ = false;
    lineStart_ = true;
}

std::string smtpTransparency(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 16);
    SmtpTransparency t;
    t.feed(text, out);
    t.finish(out);
    return out;
}

bool streamMessageData(std::string_view headerBlock, const std::vector<DataPiece>& pieces,
                       std::size_t block, const std::function<bool(std::string_view)>& write) {
    if (block == 0) block = 1;
    SmtpTransparency encoder;
    std::string out(headerBlock);
    out.reserve(headerBlock.size() + block + block / 32 + 8);
    for (const DataPiece& whole : pieces) {
        std::string_view piece = whole.text;
        while (!piece.empty()) {
            std::size_t take = std::min(piece.size(), block > out.size() ? block - out.size() : 1);
            if (whole.wireReady)
                encoder.passThrough(piece.substr(0, take), out);
            else
                encoder.feed(piece.substr(0, take), out);
            piece.remove_prefix(take);
            if (out.size() >= block) {
                if (!write(out)) return false;
                out.clear();
            }
        }
    }
    encoder.finish(out);
    out += "\r\n.\r\n";
    return write(out);
}

std::string normaliseLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t end = nextBreak(text, i);
        out.append(text.data() + i, end - i);
        if (end == n) break;
        out += "\r\n";
        i = end + ((text[end] == '\r' && end + 1 < n && text[end + 1] == '\n') ? 2 : 1);
    }
    return out;
}

bool hasMailLines(std::string_view text, std::size_t maxOctets) {
    std::size_t lineStart = 0;
    for (std::size_t i = nextBreak(text, 0); i < text.size(); i = nextBreak(text, i)) {
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') return false;
        if (i - lineStart > maxOctets) return false;
        i += 2;
        lineStart = i;
    }
    return text.size() - lineStart <= maxOctets;
}

}  // namespace qm
