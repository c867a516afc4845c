#include "message/eml_content.h"

#include <dirent.h>
#include <gmime/gmime.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "common/atomic_file.h"
#include "common/charset.h"
#include "common/file_util.h"

namespace qm {

namespace {

constexpr std::size_t kMaxNameBytes = 200;

void initGMime() {
    static const bool once = [] {
        g_mime_init();
        return true;
    }();
    (void)once;
}

std::string str(const char* s) {
    return s ? s : "";
}

// Owns one GObject reference.
template <typename T>
struct Ref {
    T* p;
    explicit Ref(T* ptr) : p(ptr) {}
    ~Ref() {
        if (p) g_object_unref(p);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
};

std::string mimeTypeOf(GMimeObject* obj) {
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    if (!ct) return "application/octet-stream";
    std::string type = str(g_mime_content_type_get_media_type(ct)) + "/" +
                       str(g_mime_content_type_get_media_subtype(ct));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type;
}

bool isAttachment(GMimeObject* obj) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(obj);
    return d && g_mime_content_disposition_is_attachment(d);
}

std::string streamBytes(GMimeStream* mem) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    return bytes ? std::string(reinterpret_cast<const char*>(bytes->data), bytes->len)
                 : std::string();
}

std::string decodedContent(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    Ref<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.p);
    return streamBytes(mem.p);
}

std::string messageBytes(GMimeMessagePart* part) {
    GMimeMessage* inner = g_mime_message_part_get_message(part);
    if (!inner) return {};
    Ref<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, mem.p);
    return streamBytes(mem.p);
}

std::string textOf(GMimePart* part) {
    std::string text;
    if (GMIME_IS_TEXT_PART(part)) {
        char* utf8 = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
        text = str(utf8);
        g_free(utf8);
    } else {
        text = decodedContent(part);
    }
    if (!isValidUtf8(text)) text = storedToUtf8(text);
    // The editors work with LF; the builder puts CR LF back when the message is sent.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::string_view extensionFor(std::string_view mimeType) {
    static constexpr std::pair<std::string_view, std::string_view> table[] = {
        {"image/png", ".png"},       {"image/jpeg", ".jpg"}, {"image/jpg", ".jpg"},
        {"image/gif", ".gif"},       {"image/bmp", ".bmp"},  {"image/webp", ".webp"},
        {"text/plain", ".txt"},      {"text/html", ".htm"},  {"message/rfc822", ".eml"},
        {"application/pdf", ".pdf"},
    };
    for (auto [type, ext] : table)
        if (type == mimeType) return ext;
    return ".bin";
}

// Splits "name.ext" at its last dot (a leading dot is part of the name).
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

// Cuts at a byte count without splitting a UTF-8 sequence.
std::string cutUtf8(std::string s, std::size_t max) {
    if (s.size() <= max) return s;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    s.resize(n);
    return s;
}

std::string uniqueName(const std::string& name, std::set<std::string>& taken) {
    if (taken.insert(name).second) return name;
    auto [stem, ext] = splitExtension(name);
    if (ext.size() > 16) {
        stem = name;
        ext.clear();
    }
    for (int n = 2;; ++n) {
        std::string candidate =
            cutUtf8(stem, kMaxNameBytes - ext.size() - 12) + "-" + std::to_string(n) + ext;
        if (taken.insert(candidate).second) return candidate;
    }
}

struct Walker {
    EmlContent& out;
    const EmlOptions& options;
    std::set<std::string> taken;
    GMimePart* htmlBody = nullptr;
    GMimePart* textBody = nullptr;
    std::vector<GMimeObject*> leaves;

    // First pass: the leaves in order, and the body candidates.
    void collect(GMimeObject* obj, int depth) {
        if (!obj || depth > kMaxEmlDepth || leaves.size() >= kMaxEmlParts) return;
        if (GMIME_IS_MULTIPART(obj)) {
            GMimeMultipart* mp = GMIME_MULTIPART(obj);
            int count = g_mime_multipart_get_count(mp);
            for (int i = 0; i < count; ++i) collect(g_mime_multipart_get_part(mp, i), depth + 1);
            return;
        }
        leaves.push_back(obj);
        if (!GMIME_IS_PART(obj) || isAttachment(obj)) return;
        const std::string type = mimeTypeOf(obj);
        if (type == "text/html" && !htmlBody) htmlBody = GMIME_PART(obj);
        if (type == "text/plain" && !textBody) textBody = GMIME_PART(obj);
    }

    void files(GMimePart* body) {
        for (GMimeObject* leaf : leaves) {
            if (leaf == GMIME_OBJECT(body)) continue;
            EmlFile f;
            std::string raw;
            const std::string type = mimeTypeOf(leaf);
            if (GMIME_IS_MESSAGE_PART(leaf)) {
                GMimeContentDisposition* d = g_mime_object_get_content_disposition(leaf);
                if (d) raw = str(g_mime_content_disposition_get_parameter(d, "filename"));
                f.bytes = messageBytes(GMIME_MESSAGE_PART(leaf));
            } else if (GMIME_IS_PART(leaf)) {
                GMimePart* part = GMIME_PART(leaf);
                raw = str(g_mime_part_get_filename(part));
                // The text alternative of the body and other unnamed inline text are not files.
                if (raw.empty() && !isAttachment(leaf) && type.starts_with("text/")) continue;
                f.bytes = decodedContent(part);
            } else {
                continue;
            }
            f.contentId = str(g_mime_object_get_content_id(leaf));
            f.name = uniqueName(safeFileName(raw, out.files.size() + 1, type), taken);
            out.files.push_back(std::move(f));
        }
    }
};

std::string percentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool startsWithCid(std::string_view s) {
    return s.size() >= 4 && (s[0] | 0x20) == 'c' && (s[1] | 0x20) == 'i' && (s[2] | 0x20) == 'd' &&
           s[3] == ':';
}

std::string rewriteCidReferences(const std::string& html, const std::vector<EmlFile>& files,
                                 const std::string& prefix) {
    std::string out;
    out.reserve(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        if (!startsWithCid(std::string_view(html).substr(i))) {
            out += html[i++];
            continue;
        }
        std::size_t end = html.find_first_of("\"' >)\t\r\n", i + 4);
        if (end == std::string::npos) end = html.size();
        const std::string id = percentDecoded(std::string_view(html).substr(i + 4, end - i - 4));
        auto it = std::find_if(files.begin(), files.end(), [&](const EmlFile& f) {
            return !f.contentId.empty() && f.contentId == id;
        });
        if (it == files.end()) {
            out.append(html, i, end - i);
        } else {
            out += prefix + it->name;
        }
        i = end;
    }
    return out;
}

}  // namespace

std::string safeFileName(std::string_view raw, std::size_t index, std::string_view mimeType) {
    std::size_t slash = raw.find_last_of("/\\");
    if (slash != std::string_view::npos) raw.remove_prefix(slash + 1);
    std::string name;
    for (char c : raw) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>' || c == '&' || c == '\'')
            continue;
        name += c;
    }
    std::size_t first = name.find_first_not_of(" .");
    std::size_t last = name.find_last_not_of(" .");
    name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    if (!isValidUtf8(name)) name = storedToUtf8(name);
    if (name.size() > kMaxNameBytes) {
        auto [stem, ext] = splitExtension(name);
        if (ext.size() > 16) ext.clear();
        name = cutUtf8(stem, kMaxNameBytes - ext.size()) + ext;
    }
    if (name.empty()) name = "part-" + std::to_string(index) + std::string(extensionFor(mimeType));
    return name;
}

EmlContent readEml(std::string_view message, const EmlOptions& options) {
    initGMime();
    EmlContent out;
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), message.size()));
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.p));
    Ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.p, nullptr));
    if (!parsed.p) {
        out.error = "The file is not an e-mail message.";
        return out;
    }
    Walker w{out, options, {}, nullptr, nullptr, {}};
    w.taken.insert(options.reservedNames.begin(), options.reservedNames.end());
    w.collect(g_mime_message_get_mime_part(parsed.p), 0);
    GMimePart* body = w.htmlBody ? w.htmlBody : w.textBody;
    if (body) {
        out.body = textOf(body);
        out.bodyIsHtml = body == w.htmlBody;
    }
    w.files(body);
    if (out.bodyIsHtml)
        out.body = rewriteCidReferences(out.body, out.files, options.referencePrefix);
    out.ok = true;
    return out;
}

namespace {

// Everything but folders goes: the previous import's files, and any link put there.
bool emptyFolder(const std::string& folder, std::string& error) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        error = "Can't open " + folder;
        return false;
    }
    std::vector<std::string> doomed;
    while (dirent* entry = ::readdir(dir)) {
        std::string path = folder + "/" + entry->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) doomed.push_back(path);
    }
    ::closedir(dir);
    for (const std::string& path : doomed)
        if (!removeFile(path)) {
            error = "Can't remove " + path;
            return false;
        }
    return true;
}

}  // namespace

EmlExtract extractEml(const std::string& emlPath, const std::string& outFolder,
                      const EmlOptions& options) {
    EmlExtract out;
    std::string bytes;
    if (!readFile(emlPath, bytes, &out.error, kMaxEmlBytes)) return out;
    EmlContent content = readEml(bytes, options);
    if (!content.ok) {
        out.error = content.error;
        return out;
    }
    if (!makeFolders(outFolder, &out.error) || !emptyFolder(outFolder, out.error)) return out;
    for (const EmlFile& f : content.files) {
        if (!writeFileAtomic(outFolder + "/" + f.name, f.bytes, &out.error, {0644, false}))
            return out;
        out.names.push_back(f.name);
    }
    out.body = std::move(content.body);
    out.bodyIsHtml = content.bodyIsHtml;
    out.ok = true;
    return out;
}

std::vector<std::string> takeEmlImport(CampaignMessage& m, const EmlImportResult* result,
                                       const std::string& emlFolder) {
    std::vector<std::string> messages;
    if (result) {
        m.format = result->bodyIsHtml ? MessageFormat::Html : MessageFormat::PlainText;
        (result->bodyIsHtml ? m.htmlText : m.plainText) = result->body;
        m.generatedPage = false;
        m.pageInserted = false;
        m.webPagePath.clear();
    }
    m.attachments.clear();
    if (!result) return messages;
    for (const std::string& name : result->names)
        if (m.attachments.addImportedFile(emlFolder + "/" + name) ==
            AttachmentList::PictureResult::TooLarge)
            messages.emplace_back(kMsgAttachmentsTooLarge);
    return messages;
}

std::string emlEditorBaseFolder(const std::string& emlFolder) {
    std::string folder = emlFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : folder.substr(0, slash);
}

EmlImportResult emlDialogContent(const EmlExtract& extract) {
    if (!extract.ok) return {};
    return {extract.body, extract.bodyIsHtml, extract.names};
}

}  // namespace qm
