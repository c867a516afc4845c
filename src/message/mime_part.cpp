#include "message/mime_part.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "common/charset.h"
#include "common/header_encoding.h"
#include "common/quoted_printable.h"
#include "common/smtp_transparency.h"
#include "common/text.h"
#include "message/attachment_cache.h"
#include "message/attachment_list.h"
#include "message/meta_charset.h"

namespace qm {

namespace {

bool isContentIdChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '+';
}

// FNV-1a, 64 bits, over the name and then the salt's bytes.
std::uint64_t nameHash(std::string_view name, std::uint32_t salt) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](unsigned char b) {
        h ^= b;
        h *= 0x100000001b3ull;
    };
    for (char c : name) mix(static_cast<unsigned char>(c));
    for (int i = 0; salt != 0 && i < 4; ++i) mix(static_cast<unsigned char>(salt >> (8 * i)));
    return h;
}

// The short form of contentIdFor(); `salt` 0 for the name's own, else a clash's counter.
std::string shortContentId(std::string_view name, std::uint32_t salt) {
    constexpr std::size_t kStem = 32, kExtension = 8;
    std::string_view stem = name, extension;
    if (std::size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) {
        std::string_view ext = name.substr(dot + 1);
        if (!ext.empty() && ext.size() <= kExtension &&
            std::all_of(ext.begin(), ext.end(), isContentIdChar)) {
            stem = name.substr(0, dot);
            extension = ext;
        }
    }
    std::string id;
    for (char c : stem) {
        if (id.size() == kStem) break;
        if (isContentIdChar(c))
            id += c;
        else if (id.empty() || id.back() != '_')
            id += '_';
    }
    if (id.empty()) id = "part";
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t h = nameHash(name, salt);
    id += '-';
    for (int shift = 60; shift >= 0; shift -= 4) id += kHex[(h >> shift) & 15];
    if (!extension.empty()) {
        id += '.';
        id += extension;
    }
    return id;
}

std::string saltedContentId(std::string_view name, std::uint32_t salt) {
    const bool plain = salt == 0 && !name.empty() && name.size() <= kMaxPlainContentId &&
                       std::all_of(name.begin(), name.end(), isContentIdChar);
    return plain ? std::string(name) : shortContentId(name, salt);
}

// Any text holding this could spell a delimiter line.
constexpr std::string_view kBoundaryCore = "ZEB__Mailer__Part_Boundary";

bool endsWithCrLf(std::string_view s) {
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

// What one pass over a text part tells the builder, so that a text already in shape (the common
// case) is written as it stands without a normalised copy, a wrapped copy and three more scans.
struct TextScan {
    bool crLfOnly = true;  // every CR and LF is part of a CR LF pair
    std::size_t longestLine = 0;
    bool sevenBit = true;  // no NUL and no byte over 0x7F
    bool boundaryFree = true;
    bool leadingDot = false;  // a line, the first included, begins with "."
};

TextScan scanText(std::string_view text) {
    TextScan scan;
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t lineStart = 0;
    unsigned char high = 0;
    bool nul = false;
    scan.leadingDot = n > 0 && p[0] == '.';
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        high |= static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n') {
            if (c == '\n' || i + 1 >= n || p[i + 1] != '\n') {
                scan.crLfOnly = false;
                break;  // the caller normalises the text and scans it again
            }
            scan.longestLine = std::max(scan.longestLine, i - lineStart);
            lineStart = i + 2;
            ++i;
            if (lineStart < n && p[lineStart] == '.') scan.leadingDot = true;
        } else if (c == '\0') {
            nul = true;
        } else if (c == kBoundaryCore[0] &&
                   text.compare(i, kBoundaryCore.size(), kBoundaryCore) == 0) {
            scan.boundaryFree = false;
        }
    }
    if (scan.crLfOnly) scan.longestLine = std::max(scan.longestLine, n - lineStart);
    scan.sevenBit = !nul && high < 0x80;
    return scan;
}

// 7-bit, no NUL, CR and LF only as CR LF, and no line over 998 octets.
bool isSevenBitReady(std::string_view text) {
    for (char c : text)
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
    return hasMailLines(text);
}

// "=3D" back to "="; the caller escaped every "=" of an HTML part that way.
std::string undoEqualsEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text.compare(i, 3, "=3D") == 0) i += 2;
    }
    return out;
}

struct ContentHandler;
using WriteFn = void (*)(const MimePart&, const ContentHandler&, PartWriter&, int);

struct ContentHandler {
    ContentKind kind;
    std::string_view contentType;
    WriteFn write;
};

void writeText(const MimePart& part, const ContentHandler& handler, PartWriter& w, int) {
    const bool html = part.kind == ContentKind::HtmlText;
    const bool qpLabel =
        part.label == kLabelQuotedPrintable || (part.label == kLabelByKind && html);
    // With the fixed labels, the text as it stands.
    auto writeAsItStands = [&](std::string_view text) {
        w.out += "Content-Type: ";
        w.out += handler.contentType;
        w.out += part.parameters;
        w.out += "\r\nContent-Transfer-Encoding: ";
        w.out += qpLabel ? "quoted-printable" : "7Bit";
        w.out += "\r\n\r\n";
        w.out += text;
    };
    // A page's own charset declaration must name the part's charset, or readers that trust the
    // page (the editor's blank document says "unicode", read as UTF-16) garble the text. The
    // fixed label is ISO-8859-1; real quoted-printable below names the text's own charset.
    std::string declared;
    std::string_view content = part.content;
    if (html && withMetaCharset(content, "iso-8859-1", declared)) content = declared;
    // One scan says whether normalising and wrapping would give the text back; bare line ends
    // (a body saved with LF alone) cost one normalised copy and a second scan, no more.
    std::string text;
    std::string_view shaped = content;
    TextScan scan = scanText(shaped);
    if (!scan.crLfOnly) {
        text = normaliseLineEnds(content);
        shaped = text;
        scan = scanText(shaped);
    }
    if (scan.longestLine <= std::min(w.lineLength, kMaxLineOctets) && scan.boundaryFree &&
        (qpLabel ? isQuotedPrintableReady(shaped) : scan.sevenBit)) {
        writeAsItStands(shaped);
        if (scan.leadingDot) w.outWireReady = false;
        return;
    }
    w.outWireReady = false;  // no scan of the text as written: the transparency step does it
    if (text.empty()) text = content;
    std::string wrapped = wrapText(text, w.lineLength);
    const bool boundarySafe = scan.boundaryFree;
    const bool ready = qpLabel ? isQuotedPrintableReady(wrapped) : isSevenBitReady(wrapped);
    if (ready && boundarySafe) {
        writeAsItStands(wrapped);
        return;
    }
    // Real quoted-printable of what the reader is meant to see, labelled with its charset.
    std::string decoded = qpLabel ? undoEqualsEscape(text) : std::move(text);
    const std::string_view charset = charsetFor(decoded);  // the declaration is ASCII either way
    if (std::string fixed; html && withMetaCharset(decoded, charset, fixed))
        decoded = std::move(fixed);
    w.out += "Content-Type: ";
    w.out += html ? "text/html" : "text/plain";
    w.out += ";\r\n\tcharset=\"";
    w.out += charset;
    w.out += "\"";
    w.out += part.parameters;
    w.out += "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    w.out += quotedPrintableEncode(decoded, boundarySafe ? "" : "_");
}

void writeFile(const MimePart& part, const ContentHandler& handler, PartWriter& w, int) {
    std::string_view name = fileNameOf(part.content);
    w.out += "Content-Type: ";
    w.out += handler.contentType;
    std::size_t column = 14 + handler.contentType.size();
    if (part.kind == ContentKind::FileAttachment && part.nameInContentType)
        w.out += mimeParameter("file", name, column);
    w.out += "\r\nContent-Transfer-Encoding: base64\r\n";
    if (part.kind == ContentKind::InlineFile) {
        w.out += "Content-ID: <" + contentIdFor(part.parameters) + ">\r\n";
    } else {
        column = 31;  // "Content-Disposition: attachment"
        w.out +=
            "Content-Disposition: attachment" + mimeParameter("filename", name, column) + "\r\n";
    }
    w.out += "\r\n";
    auto lines = w.cache ? w.cache->encodedLines(part.content) : encodeFileLines(part.content);
    if (!lines) return;
    w.appendShared(std::move(lines));
    w.out += "\r\n";
}

void writeMultipart(const MimePart& part, const ContentHandler& handler, PartWriter& w, int depth) {
    const std::string boundary = boundaryFor(depth);
    w.out += "Content-Type: ";
    w.out += handler.contentType;
    w.out += ";" + part.parameters + "\r\n\tboundary=" + boundary + "\r\n\r\n";
    if (w.preamblePending) {
        w.out += "This is a multi-part message in MIME format.\r\n\r\n";
        w.preamblePending = false;
    }
    for (const auto& child : part.children) {
        if (!child) continue;
        std::size_t before = w.out.size();
        if (!w.endsWithCrLf()) w.out += "\r\n";
        w.out += "\r\n--" + boundary + "\r\n";
        std::size_t headerEnd = w.position();
        writePart(*child, w, depth + 1);
        // A child of no known kind is left out whole, delimiter included. It wrote nothing, so
        // nothing was flushed either and `before` still counts in `out`.
        if (w.position() == headerEnd) w.out.resize(before);
    }
    if (!w.endsWithCrLf()) w.out += "\r\n";
    w.out += "--" + boundary + "--\r\n";
}

constexpr ContentHandler kHandlers[] = {
    {ContentKind::PlainText, "text/plain", writeText},
    {ContentKind::FileAttachment, "application/octet-stream", writeFile},
    {ContentKind::InlineFile, "application/octet-stream", writeFile},
    {ContentKind::HtmlText, "text/html;\r\n\tcharset=\"iso-8859-1\"", writeText},
    {ContentKind::Mixed, "multipart/mixed", writeMultipart},
    {ContentKind::Alternative, "multipart/alternative", writeMultipart},
    {ContentKind::Related, "multipart/related", writeMultipart},
};

const ContentHandler* findHandler(ContentKind kind) {
    for (const auto& h : kHandlers)
        if (h.kind == kind) return &h;
    return nullptr;
}

}  // namespace

std::string boundaryFor(int depth) {
    return "_" + std::to_string(depth) + std::string(kBoundaryStem);
}

std::string contentIdFor(std::string_view fileName) {
    return saltedContentId(fileName, 0);
}

std::vector<std::string> contentIdsFor(const std::vector<std::string>& names) {
    std::vector<std::string> ids;
    ids.reserve(names.size());
    std::unordered_set<std::string> taken;  // lower case
    for (const auto& name : names) {
        std::string id = contentIdFor(name);
        for (std::uint32_t salt = 1; taken.count(lowerAscii(id)) != 0; ++salt)
            id = saltedContentId(name, salt);
        taken.insert(lowerAscii(id));
        ids.push_back(std::move(id));
    }
    return ids;
}

std::string wrapText(std::string_view text, std::size_t width) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    auto rtrimBlanks = [](std::string_view s) {
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        return s;
    };
    std::size_t pos = 0;
    for (;;) {
        std::size_t eol = text.find("\r\n", pos);
        std::string_view line = text.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
        while (line.size() > width) {
            // The last blank among the first width + 1 characters, else the first one after them.
            std::size_t cut = line.substr(0, width + 1).rfind(' ');
            if (cut == std::string_view::npos) cut = line.find(' ', width + 1);
            if (cut == std::string_view::npos) break;
            out += rtrimBlanks(line.substr(0, cut));
            out += "\r\n";
            line.remove_prefix(cut);
            while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        }
        out += line;
        if (eol == std::string_view::npos) break;
        out += "\r\n";
        pos = eol + 2;
    }
    return out;
}

bool PartWriter::endsWithCrLf() const {
    if (out.size() >= 2 || !pieces || pieces->empty()) return qm::endsWithCrLf(out);
    std::string_view last = pieces->back().text();
    if (out.size() == 1) return out[0] == '\n' && !last.empty() && last.back() == '\r';
    return qm::endsWithCrLf(last);
}

void PartWriter::appendShared(std::shared_ptr<const std::string> text) {
    if (!pieces) {
        out += *text;
        return;
    }
    flush();
    flushed += text->size();
    // Base64 lines: CR LF line ends, and no "." in the alphabet.
    pieces->push_back({{}, std::move(text), true});
}

void PartWriter::flush() {
    if (!pieces) return;
    flushed += out.size();
    if (!out.empty()) pieces->push_back({std::move(out), nullptr, outWireReady});
    out.clear();
    outWireReady = true;
}

void writePart(const MimePart& part, PartWriter& writer, int depth) {
    const ContentHandler* handler = findHandler(part.kind);
    if (handler) handler->write(part, *handler, writer, depth);
}

}  // namespace qm
