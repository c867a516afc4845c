// One node of a MIME part tree and the handlers that write each kind of node.
//
// A MimePart is a text part (plain or HTML), a file part (attachment or inline picture, content =
// the file path) or a multipart (mixed, alternative, related).
//
// Entry points: writePart() appends a part's header lines, a blank line and its content to a body;
// the handler is found by kind in a fixed table, and a part whose kind has none is left out with
// its children. contentIdFor() and contentIdsFor() name inline pictures; wrapText(); boundaryFor().
//
// Failure: none; nothing here fails or throws. A file that cannot be read gives a part with headers
// only.
//
// Limits: no line passes 998 octets, whatever the texts and names:
//   - text is given CR LF line ends and wrapped at blanks to the line length; when the result is
//     7-bit with lines of at most 998 octets ("7Bit" parts) or is already valid quoted-printable
//     (HTML parts, whose "=" the caller escaped as "=3D"), it is written as it stands with the
//     fixed labels; otherwise it is encoded as real quoted-printable with the charset it is in;
//   - a text that would spell the boundary text is encoded so that it cannot;
//   - file names are quoted or RFC 2231-encoded; a content identifier is at most
//     kMaxPlainContentId characters;
//   - file contents are base64 in 76-character lines, from the run's AttachmentCache when given.
//
// Threads: the boundary of a multipart carries its depth ("_0_..." for the outermost), passed down
// the recursion: builds on several threads never share it. The handler table is constant.
//
// Standard: RFC 2045/2046 (MIME), RFC 2231 parameters, RFC 2392 Content-ID and "cid:", RFC 5322
// line lengths.
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

// Content identifiers of inline pictures. A simple file name (letters, digits, "-", ".", "_", "+";
// at most kMaxPlainContentId characters) is its own identifier. Any other name gets a short form:
// its safe characters (each run of other bytes as one "_", cut to a few dozen), "-", 16 hex digits
// of a hash of the whole name, and its extension when that is simple. Names that differ only in
// bytes a reduction would make alike ("a b.gif", "a_b.gif"; "фото.jpg", "окно.jpg") so keep apart.
// Every identifier is valid in a Content-ID header and a "cid:" URL alike, fits a short header
// line, and is its own identifier again.
inline constexpr std::size_t kMaxPlainContentId = 64;
std::string contentIdFor(std::string_view fileName);
// One identifier per name, unique within the message even where readers compare them without
// regard to case: contentIdFor() of each name, and for a name whose identifier an earlier one took,
// the short form with a counter in the hash. The body's references and the parts are both named
// from the one list of attachment names, so each "cid:" names the right part.
std::vector<std::string> contentIdsFor(const std::vector<std::string>& names);

// Breaks lines longer than `width` at their last blank within the limit (or the first blank after
// it), removing the blanks around the break; a line without blanks stays whole. Expects CR LF line
// ends.
std::string wrapText(std::string_view text, std::size_t width);

// One piece of a built body: text of its own, or a view of an encoded attachment that every
// recipient's message shares. Joined in order, the pieces are the body.
struct BodyPiece {
    std::string own;
    std::shared_ptr<const std::string> shared;
    // The SMTP transparency step would leave it as it is (common/smtp_transparency.h DataPiece):
    // base64 lines, or text whose text parts the builder's one scan found in shape.
    bool wireReady = false;
    std::string_view text() const { return shared ? std::string_view(*shared) : own; }
};

struct PartWriter {
    std::string& out;
    std::size_t lineLength = 76;
    AttachmentCache* cache = nullptr;
    bool preamblePending = true;
    // Set: an encoded file goes in as a shared piece, after `out` is moved into a piece of its own,
    // so a message costs its personalised text and no copy of its attachments.
    std::vector<BodyPiece>* pieces = nullptr;
    std::size_t flushed = 0;  // bytes moved out of `out` into pieces so far
    // No text written into `out` since its last flush could need the transparency step.
    bool outWireReady = true;

    // Bytes written so far, flushed pieces included.
    std::size_t position() const { return flushed + out.size(); }
    bool endsWithCrLf() const;
    void appendShared(std::shared_ptr<const std::string> text);
    // Moves what `out` holds into a piece of its own.
    void flush();
};
void writePart(const MimePart& part, PartWriter& writer, int depth);

}  // namespace qm
