// The content of a saved e-mail file (.eml): its text for the campaign message, and its attached
// and embedded files written into one output folder under their own names.
//
// Entry points: readEml() parses the bytes (no files touched); safeFileName() is the name rule;
// extractEml() empties the output folder of the previous import's files and writes this one's.
//
// The body is the first HTML part that is not an attachment, else the first plain-text part that
// is not an attachment, decoded from its transfer encoding and from its charset to UTF-8 (text that
// is still not UTF-8 is read as Windows-1252), CR LF turned into LF. Every other leaf part becomes
// a file, except the plain-text twin of the chosen HTML and other unnamed inline text; an attached
// message becomes a
// ".eml" file. In an HTML body every "cid:" reference to an embedded part is replaced by
// `referencePrefix` + that part's file name, so the message shows and sends its pictures again
// (the send step turns file names back into cid: references).
//
// File names: the part's name (RFC 2231 and RFC 2047 decoded) with everything up to the last "/"
// or "\" dropped, control characters, NUL and the characters " < > & ' removed, blanks and dots
// trimmed at the ends, cut to 200 bytes; a name left empty (or "." / "..") becomes "part-N" with
// an extension from the content type. Names that repeat (also against `reservedNames`) get "-2",
// "-3", ... before the extension. So no name leaves the output folder.
//
// Failure: readEml() gives ok=false with a one-line text for input GMime cannot read as a message
// at all; extractEml() also for a file it cannot read or write. Nothing throws.
// Limits: at most kMaxEmlParts files and kMaxEmlDepth levels of nesting (deeper parts are left
// out); extractEml() reads at most kMaxEmlBytes of the file.
// Threads: any thread; GMime is initialised once, on first use.
// Standard: RFC 2045-2047, RFC 2183 (Content-Disposition), RFC 2231, RFC 2392 (cid:), via GMime 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/campaign_message.h"

namespace qm {

inline constexpr std::size_t kMaxEmlParts = 1000;
inline constexpr int kMaxEmlDepth = 32;
inline constexpr std::uint64_t kMaxEmlBytes = 16u << 20;

struct EmlFile {
    std::string name;  // safe, unique
    std::string bytes;
    std::string contentId;  // without angle brackets; empty when none
};

struct EmlContent {
    bool ok = false;
    std::string error;
    std::string body;  // UTF-8
    bool bodyIsHtml = false;
    std::vector<EmlFile> files;  // in message order
};

struct EmlOptions {
    std::string referencePrefix;             // put before a file name that replaces "cid:..."
    std::vector<std::string> reservedNames;  // names the files must not take
};

EmlContent readEml(std::string_view message, const EmlOptions& options = {});

// `index` numbers the made-up name; `mimeType` ("image/png") picks its extension.
std::string safeFileName(std::string_view raw, std::size_t index, std::string_view mimeType);

struct EmlExtract {
    bool ok = false;
    std::string error;
    std::string body;
    bool bodyIsHtml = false;
    std::vector<std::string> names;  // the files written into the folder, in message order
};

// Reads `emlPath`, removes every file (not folder) that is in `outFolder` (creating it when
// missing), and writes the message's files there.
EmlExtract extractEml(const std::string& emlPath, const std::string& outFolder,
                      const EmlOptions& options = {});

// What the import dialog hands back on "Add".
struct EmlImportResult {
    std::string body;
    bool bodyIsHtml = false;
    std::vector<std::string> names;  // files in `emlFolder`
};

inline constexpr std::string_view kMsgEmlTooLarge =
    "Please select a file with less than 500kb size.";
inline constexpr std::string_view kMsgNothingToAdd = "Nothing to add to message.";
inline constexpr std::uint64_t kMaxEmlSourceBytes = 512000;

// The main window's step after the dialog closed. With a result the body becomes the message's
// text (the editor's document when HTML, else the plain text) and the format follows the flag;
// the imported message replaces an inserted or generated page, so the page state is cleared (the
// checks would otherwise still read the page file as the body). Either way (Add or Cancel) the
// attachment list is emptied; then each named file is listed in order unless it would take the
// total past 2 MB, which gives kMsgAttachmentsTooLarge once per file left out. Returns the texts
// to show, in order.
std::vector<std::string> takeEmlImport(CampaignMessage& m, const EmlImportResult* result,
                                       const std::string& emlFolder);

// The folder the editor resolves an imported HTML body against: the body names its pictures
// "<emlFolder's last name>/NAME" (the dialog's reference prefix), so the folder above emlFolder.
std::string emlEditorBaseFolder(const std::string& emlFolder);

// What the import dialog shows after a Get Content: the extracted body, format and files, or,
// when the extraction failed, nothing at all (an earlier file's body must not be added without
// its files, which the failed extraction removed).
EmlImportResult emlDialogContent(const EmlExtract& extract);

}  // namespace qm
