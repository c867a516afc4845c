// One node of a MIME part tree and the handlers that write each kind of node.
//
// A MimePart is a text part (plain or HTML), a file part (attachment or inline picture, content =
// the file path) or a multipart (mixed, alternative, related). writePart() appends a part's header
// lines, a blank line and its content to a body; the handler is found by kind in a fixed table, and
// a part whose kind has none is left out with its children.
//
// What goes on the wire is valid for the transfer encoding and charset each part declares, and no
// line passes 998 octets:
//   - text is given CR LF line ends and wrapped at blanks to the line length; when the result is
//     7-bit with lines of at most 998 octets ("7Bit" parts) or is already valid quoted-printable
//     (HTML parts, whose "=" the caller escaped as "=3D"), it is written as it stands with the
//     fixed labels; otherwise it is encoded as real quoted-printable with the charset it is in;
//   - a text that would spell the boundary text is encoded so that it cannot;
//   - file names are quoted or RFC 2231-encoded, content identifiers reduced to safe characters;
//   - file contents are base64 in 76-character lines, from the run's AttachmentCache when given.
// A file that cannot be read gives a part with headers only. Nothing here fails or throws.
//
// The boundary of a multipart carries its depth ("_0_..." for the outermost), passed down the
// recursion: builds on several threads never share it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class AttachmentCache;

enum class ContentKind : int {
    PlainText = 0,
    FileAttachment = 1,
    InlineFile = 2,
    HtmlText = 3,
    Mixed = 1000,
    Alternative = 1001,
    Related = 1002,
};

// Transfer-encoding labels of text parts; 0 lets the kind decide.
inline constexpr int kLabelByKind = 0;
inline constexpr int kLabel7Bit = 1;
inline constexpr int kLabelQuotedPrintable = 16;

struct MimePart {
    bool nameInContentType = false;  // a file part names its file in Content-Type too
    int label = kLabelByKind;
    ContentKind kind = ContentKind::PlainText;
    std::string parameters;  // inline file: content identifier; multipart: extra parameters
    std::string content;     // text, or a file path
    std::vector<std::unique_ptr<MimePart>> children;
};

inline constexpr std::string_view kBoundaryStem = "_.__.__ZEB__Mailer__Part_Boundary_";
std::string boundaryFor(int depth);

// The content identifier for a file name: characters other than letters, digits, "-", ".", "_" and
// "+" become "_", so it is valid in a Content-ID header and in a "cid:" URL alike.
std::string contentIdFor(std::string_view fileName);

// Breaks lines longer than `width` at their last blank within the limit (or the first blank after
// it), removing the blanks around the break; a line without blanks stays whole. Expects CR LF line
// ends.
std::string wrapText(std::string_view text, std::size_t width);

struct PartWriter {
    std::string& out;
    std::size_t lineLength = 76;
    AttachmentCache* cache = nullptr;
    bool preamblePending = true;
};
void writePart(const MimePart& part, PartWriter& writer, int depth);

}  // namespace qm
