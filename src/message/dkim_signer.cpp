#include "message/dkim_signer.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/base64.h"
#include "common/file_util.h"
#include "common/text.h"
#include "message/mime_message.h"

namespace qm {

namespace {

constexpr std::uint64_t kMaxKeyFile = 64 * 1024;
// Signature lines are folded to stay readable; the limit is far below the 998 octets of a line.
constexpr std::size_t kFoldWidth = 76;

constexpr std::string_view kSignedFields[] = {
    "From",
    "To",
    "Subject",
    "Date",
    "Message-ID",
    "MIME-Version",
    "Content-Type",
    "List-Id",
    "List-Unsubscribe",
    "List-Unsubscribe-Post",
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

bool isWsp(char c) {
    return c == ' ' || c == '\t';
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// The header section of headerBlock + body, and where the body proper starts. The builder leaves
// the root part's header lines at the top of `body`; an empty line ends the section wherever it is.
struct SplitMessage {
    std::string headers;    // every field, each ending in CR LF
    std::string_view body;  // its start: the rest follows in the pieces after those split
    std::string ownedBody;  // when the header block's own tail starts the body
};

// Filled in place: `body` may point into `ownedBody`, which a move could invalidate.
void splitMessage(std::string_view headerBlock, std::string_view body, SplitMessage& out) {
    std::string joined;
    std::string_view rest;
    if (std::size_t end = headerBlock.find("\r\n\r\n"); end != std::string_view::npos) {
        out.headers.assign(headerBlock.substr(0, end + 2));
        joined.assign(headerBlock.substr(end + 4));
        joined.append(body);
        out.ownedBody = std::move(joined);
        rest = out.ownedBody;
    } else if (headerBlock.empty() || headerBlock.ends_with("\r\n")) {
        out.headers.assign(headerBlock);
        if (body.starts_with("\r\n")) {
            rest = body.substr(2);
        } else {
            std::size_t end = body.find("\r\n\r\n");
            if (end == std::string_view::npos) {
                out.headers.append(body);
                if (!out.headers.ends_with("\r\n")) out.headers += "\r\n";
                rest = {};
            } else {
                out.headers.append(body.substr(0, end + 2));
                rest = body.substr(end + 4);
            }
        }
    } else {
        out.headers.assign(headerBlock);
        out.headers += "\r\n";
        rest = body;
    }
    out.body = rest;
}

// Each field of a header section (continuation lines included, final CR LF not).
std::vector<std::string_view> headerFields(std::string_view headers) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t eol = headers.find("\r\n", pos);
        if (eol == std::string_view::npos) eol = headers.size();
        std::size_t next = eol + 2;
        bool continues = next < headers.size() && isWsp(headers[next]);
        if (!continues) {
            if (eol > start) fields.push_back(headers.substr(start, eol - start));
            start = next;
        }
        pos = next;
    }
    return fields;
}

std::string_view fieldName(std::string_view field) {
    std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) return {};
    std::string_view name = field.substr(0, colon);
    while (!name.empty() && isWsp(name.back())) name.remove_suffix(1);
    return name;
}

std::string toBase64(const unsigned char* data, std::size_t n) {
    return base64Encode(std::string_view(reinterpret_cast<const char*>(data), n));
}

bool fromBase64(std::string_view text, std::string& out) {
    std::string clean;
    for (char c : text)
        if (!isWsp(c) && c != '\r' && c != '\n') clean += c;
    if (clean.size() % 4 != 0) return false;
    out.assign(clean.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(clean.data()),
                            static_cast<int>(clean.size()));
    if (n < 0) return false;
    std::size_t pad = 0;
    if (!clean.empty() && clean.back() == '=') ++pad;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++pad;
    out.resize(static_cast<std::size_t>(n) - pad);
    return true;
}

EVP_PKEY* asKey(const std::unique_ptr<void, DkimSigner::KeyFree>& key) {
    return static_cast<EVP_PKEY*>(key.get());
}

std::string publicKeyOf(EVP_PKEY* key) {
    if (EVP_PKEY_get_id(key) == EVP_PKEY_ED25519) {
        unsigned char raw[32];
        std::size_t len = sizeof raw;
        if (EVP_PKEY_get_raw_public_key(key, raw, &len) != 1) return {};
        return toBase64(raw, len);
    }
    unsigned char* der = nullptr;
    int len = i2d_PUBKEY(key, &der);
    if (len <= 0) return {};
    std::string out = toBase64(der, static_cast<std::size_t>(len));
    OPENSSL_free(der);
    return out;
}

// Appends `text` to `out` as FWS-folded pieces so no line passes kFoldWidth; `column` tracks the
// current line's length.
void appendFolded(std::string& out, std::size_t& column, std::string_view text) {
    while (!text.empty()) {
        if (column >= kFoldWidth) {
            out += "\r\n\t";
            column = 1;
        }
        std::size_t n = std::min(text.size(), kFoldWidth - column);
        out.append(text.substr(0, n));
        column += n;
        text.remove_prefix(n);
    }
}

}  // namespace

std::string_view dkimAlgorithmName(DkimAlgorithm algorithm) {
    return algorithm == DkimAlgorithm::Ed25519 ? "ed25519" : "rsa";
}

bool parseDkimAlgorithm(std::string_view text, DkimAlgorithm& out) {
    if (text == "rsa") {
        out = DkimAlgorithm::Rsa;
        return true;
    }
    if (text == "ed25519") {
        out = DkimAlgorithm::Ed25519;
        return true;
    }
    return false;
}

bool isDkimName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
        if (!ok || ++label > 63) return false;
    }
    return label > 0;
}

std::string relaxedHeader(std::string_view field) {
    std::size_t colon = field.find(':');
    std::string out;
    if (colon == std::string_view::npos) return out;
    std::string_view name = fieldName(field);
    out.reserve(field.size());
    for (char c : name) out += asciiLower(c);
    out += ':';
    // Only the WSP around the colon that ends the name goes; a run of WSP inside the value, after
    // a colon of its own ("Re: hi", a folded h= list) included, stays as one SP.
    bool space = false;
    bool valueStarted = false;
    for (char c : field.substr(colon + 1)) {
        if (c == '\r' || c == '\n') continue;  // unfolding
        if (isWsp(c)) {
            space = true;
            continue;
        }
        if (space && valueStarted) out += ' ';
        space = false;
        valueStarted = true;
        out += c;
    }
    return out;
}

namespace {

// Relaxed body canonicalisation fed in pieces of any size: a line, a CR LF or a run of empty lines
// may be split between pieces. A bare CR or LF ends a line, as it does on the wire, where the
// client sends every line end as CR LF. Output goes to `sink` in blocks of about 64 KB.
class RelaxedBodyStream {
  public:
    explicit RelaxedBodyStream(const std::function<void(std::string_view)>& sink) : sink_(sink) {
        buf_.reserve(kBlock + 1024);
    }

    void feed(std::string_view text) {
        for (char c : text) {
            if (pendingCr_) {
                pendingCr_ = false;
                endLine();
                if (c == '\n') continue;
            }
            if (c == '\r') {
                pendingCr_ = true;
            } else if (c == '\n') {
                endLine();
            } else if (isWsp(c)) {
                space_ = true;
            } else {
                if (!lineHasText_) {
                    // Empty lines count only when something follows them.
                    for (; emptyLines_; --emptyLines_) buf_ += "\r\n";
                    lineHasText_ = true;
                }
                if (space_) buf_ += ' ';  // a run of WSP before text, leading ones too, is one SP
                space_ = false;
                buf_ += c;
                if (buf_.size() >= kBlock) flushBlock();
            }
        }
    }

    void finish() {
        if (pendingCr_ || lineHasText_) endLine();
        pendingCr_ = false;
        flushBlock();
    }

  private:
    static constexpr std::size_t kBlock = 64 * 1024;

    void endLine() {
        if (lineHasText_)
            buf_ += "\r\n";
        else
            ++emptyLines_;
        lineHasText_ = space_ = false;
    }
    void flushBlock() {
        if (buf_.empty()) return;
        sink_(buf_);
        buf_.clear();
    }

    const std::function<void(std::string_view)>& sink_;
    std::string buf_;
    std::size_t emptyLines_ = 0;
    bool lineHasText_ = false;
    bool space_ = false;  // WSP seen since the last character written on this line
    bool pendingCr_ = false;
};

}  // namespace

void relaxedBody(std::string_view body, const std::function<void(std::string_view)>& sink) {
    RelaxedBodyStream stream(sink);
    stream.feed(body);
    stream.finish();
}

std::string relaxedBody(std::string_view body) {
    std::string out;
    relaxedBody(body, [&](std::string_view piece) { out.append(piece); });
    return out;
}

void DkimSigner::KeyFree::operator()(void* key) const {
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key));
}

std::shared_ptr<const DkimSigner> DkimSigner::load(const DkimConfig& config, std::string& error,
                                                   bool keyDecides) {
    const std::string& path = config.keyFile;
    if (path.empty()) {
        error = "No DKIM private key file is set.";
        return nullptr;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "DKIM key file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "DKIM key file " + path + " is not a regular file.";
        return nullptr;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        error = "DKIM key file " + path + " has mode " + mode +
                ", so others may read the key; make it 0600 (chmod 600 " + path + ").";
        return nullptr;
    }
    std::string pem;
    std::string readError;
    if (!readFile(path, pem, &readError, kMaxKeyFile)) {
        error = "DKIM key file " + path + ": " + readError;
        return nullptr;
    }
    auto signer = fromPem(config, pem, error, keyDecides);
    if (!signer) error = "DKIM key file " + path + ": " + error;
    return signer;
}

std::shared_ptr<const DkimSigner> DkimSigner::fromPem(const DkimConfig& config,
                                                      std::string_view pem, std::string& error,
                                                      bool keyDecides) {
    if (!isDkimName(config.domain)) {
        error = "the DKIM domain \"" + config.domain + "\" is not a domain name.";
        return nullptr;
    }
    if (!isDkimName(config.selector)) {
        error = "the DKIM selector \"" + config.selector + "\" is not a DNS label.";
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EVP_PKEY* raw = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!raw) {
        error = "no private key in PEM form.";
        return nullptr;
    }
    std::shared_ptr<DkimSigner> s(new DkimSigner);
    s->key_.reset(raw);
    s->config_ = config;
    int id = EVP_PKEY_get_id(raw);
    if (keyDecides)
        s->config_.algorithm = id == EVP_PKEY_ED25519 ? DkimAlgorithm::Ed25519 : DkimAlgorithm::Rsa;
    if (s->config_.algorithm == DkimAlgorithm::Ed25519) {
        if (id != EVP_PKEY_ED25519) {
            error = "the key is not an Ed25519 key, but Ed25519 was chosen.";
            return nullptr;
        }
    } else {
        if (id != EVP_PKEY_RSA) {
            error = "the key is not an RSA key, but RSA was chosen.";
            return nullptr;
        }
        int bits = EVP_PKEY_get_bits(raw);
        if (bits < kMinRsaBits) {
            error = "the RSA key has " + std::to_string(bits) + " bits; " +
                    std::to_string(kMinRsaBits) + " or more are needed.";
            return nullptr;
        }
    }
    return s;
}

std::string DkimSigner::publicKeyBase64() const {
    return publicKeyOf(asKey(key_));
}

std::string DkimSigner::signatureHeader(std::string_view headerBlock, std::string_view body,
                                        std::int64_t unixTime) const {
    const std::string_view pieces[] = {body};
    return signatureHeader(headerBlock, pieces, unixTime);
}

std::string DkimSigner::signatureHeader(std::string_view headerBlock,
                                        std::span<const std::string_view> body,
                                        std::int64_t unixTime) const {
    // The header section runs on into the body when the header block has no empty line: only the
    // leading pieces that hold its end are joined (in a built message, the first piece alone).
    std::size_t used = 0;
    std::string joined;
    std::string_view first;
    if (!body.empty() && headerBlock.find("\r\n\r\n") == std::string_view::npos &&
        (headerBlock.empty() || headerBlock.ends_with("\r\n"))) {
        auto ended = [](std::string_view t, std::size_t from) {
            return t.starts_with("\r\n") || t.find("\r\n\r\n", from) != std::string_view::npos;
        };
        first = body[used++];
        if (!ended(first, 0) && used < body.size()) {
            joined.assign(first);
            while (used < body.size()) {
                const std::size_t from = joined.size() < 3 ? 0 : joined.size() - 3;
                joined.append(body[used++]);
                if (ended(joined, from)) break;
            }
            first = joined;
        }
    }
    SplitMessage m;
    splitMessage(headerBlock, first, m);

    MdCtx bodyCtx(EVP_MD_CTX_new());
    unsigned char bodyHash[EVP_MAX_MD_SIZE];
    unsigned bodyHashLen = 0;
    bool ok = bodyCtx && EVP_DigestInit_ex(bodyCtx.get(), EVP_sha256(), nullptr) == 1;
    {
        const std::function<void(std::string_view)> hash = [&](std::string_view block) {
            ok = ok && EVP_DigestUpdate(bodyCtx.get(), block.data(), block.size()) == 1;
        };
        RelaxedBodyStream stream(hash);
        stream.feed(m.body);
        for (; used < body.size(); ++used) stream.feed(body[used]);
        stream.finish();
    }
    ok = ok && EVP_DigestFinal_ex(bodyCtx.get(), bodyHash, &bodyHashLen) == 1;
    if (!ok) {
        failures_.fetch_add(1);
        return {};
    }

    std::vector<std::string_view> fields = headerFields(m.headers);
    std::string signedData;
    std::string names;
    for (std::string_view wanted : kSignedFields) {
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
            if (!equalsNoCase(fieldName(*it), wanted)) continue;
            signedData += relaxedHeader(*it);
            signedData += "\r\n";
            if (!names.empty()) names += ':';
            names += wanted;
            break;
        }
    }

    bool ed = config_.algorithm == DkimAlgorithm::Ed25519;
    std::string header = "DKIM-Signature: v=1; a=";
    header += ed ? "ed25519-sha256" : "rsa-sha256";
    header += "; c=relaxed/relaxed; d=" + config_.domain + "; s=" + config_.selector +
              ";\r\n\tt=" + std::to_string(unixTime) + "; h=";
    std::size_t column = header.size() - header.rfind('\n') - 1;
    // Folding between names keeps each line short; FWS around the colons is allowed in h=.
    std::size_t start = 0;
    while (start <= names.size()) {
        std::size_t colon = names.find(':', start);
        std::size_t end = colon == std::string::npos ? names.size() : colon + 1;
        std::string_view piece = std::string_view(names).substr(start, end - start);
        if (column + piece.size() > kFoldWidth) {
            header += "\r\n\t";
            column = 1;
        }
        header += piece;
        column += piece.size();
        if (colon == std::string::npos) break;
        start = end;
    }
    header += ";\r\n\tbh=" + toBase64(bodyHash, bodyHashLen) + ";\r\n\tb=";
    signedData += relaxedHeader(header);

    MdCtx ctx(EVP_MD_CTX_new());
    std::string sig;
    std::size_t sigLen = 0;
    if (ed) {
        // Ed25519-SHA256 signs the SHA-256 of the data, not the data.
        unsigned char hash[EVP_MAX_MD_SIZE];
        unsigned hashLen = 0;
        ok = EVP_Digest(signedData.data(), signedData.size(), hash, &hashLen, EVP_sha256(),
                        nullptr) == 1 &&
             ctx && EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, asKey(key_)) == 1 &&
             EVP_DigestSign(ctx.get(), nullptr, &sigLen, hash, hashLen) == 1;
        if (ok) {
            sig.resize(sigLen);
            ok = EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &sigLen,
                                hash, hashLen) == 1;
        }
    } else {
        ok = ctx &&
             EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, asKey(key_)) == 1 &&
             EVP_DigestSignUpdate(ctx.get(), signedData.data(), signedData.size()) == 1 &&
             EVP_DigestSignFinal(ctx.get(), nullptr, &sigLen) == 1;
        if (ok) {
            sig.resize(sigLen);
            ok = EVP_DigestSignFinal(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()),
                                     &sigLen) == 1;
        }
    }
    if (!ok) {
        failures_.fetch_add(1);
        return {};
    }
    sig.resize(sigLen);
    column = 3;  // "\tb="
    appendFolded(header, column, base64Encode(sig));
    header += "\r\n";
    return header;
}

void signMessage(const DkimSigner& signer, MimeMessage& message) {
    // A message built in pieces is hashed piece by piece, so signing copies none of the shared
    // attachments.
    std::vector<std::string_view> pieces;
    if (message.bodyPieces.empty()) {
        pieces.push_back(message.body);
    } else {
        pieces.reserve(message.bodyPieces.size());
        for (const auto& piece : message.bodyPieces) pieces.push_back(piece.text());
    }
    std::string header = signer.signatureHeader(message.headerBlock, pieces,
                                                static_cast<std::int64_t>(std::time(nullptr)));
    if (!header.empty()) message.headerBlock.insert(0, header);
}

bool generateDkimKey(DkimAlgorithm algorithm, int rsaBits, DkimKeyPair& out, std::string& error) {
    EVP_PKEY* raw = nullptr;
    if (algorithm == DkimAlgorithm::Rsa) {
        if (rsaBits < kMinRsaBits) {
            error = "RSA keys need " + std::to_string(kMinRsaBits) + " bits or more.";
            return false;
        }
        raw = EVP_RSA_gen(static_cast<unsigned>(rsaBits));
    } else {
        std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
        if (ctx && EVP_PKEY_keygen_init(ctx.get()) == 1) EVP_PKEY_keygen(ctx.get(), &raw);
    }
    if (!raw) {
        error = "the key could not be generated.";
        return false;
    }
    std::unique_ptr<void, DkimSigner::KeyFree> key(raw);
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), raw, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        error = "the key could not be written as PEM.";
        return false;
    }
    char* data = nullptr;
    long len = BIO_get_mem_data(bio.get(), &data);
    out.privatePem.assign(data, static_cast<std::size_t>(len));
    out.publicBase64 = publicKeyOf(raw);
    return !out.publicBase64.empty();
}

std::string dkimTxtRecord(DkimAlgorithm algorithm, std::string_view publicBase64) {
    return "v=DKIM1; k=" + std::string(dkimAlgorithmName(algorithm)) +
           "; p=" + std::string(publicBase64);
}

std::string quotedTxtStrings(std::string_view record) {
    constexpr std::size_t kMaxString = 255;
    std::string out;
    do {
        if (!out.empty()) out += ' ';
        std::string_view piece = record.substr(0, kMaxString);
        out += '"';
        out.append(piece);
        out += '"';
        record.remove_prefix(piece.size());
    } while (!record.empty());
    return out;
}

bool parseTagList(std::string_view text, std::vector<DkimTag>& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t semi = text.find(';', pos);
        if (semi == std::string_view::npos) semi = text.size();
        std::string_view tag = trimWhite(text.substr(pos, semi - pos));
        pos = semi + 1;
        if (tag.empty()) continue;  // a ";" at the end
        std::size_t eq = tag.find('=');
        if (eq == std::string_view::npos) return false;
        out.push_back({trimWhite(tag.substr(0, eq)), trimWhite(tag.substr(eq + 1))});
    }
    return true;
}

DkimRecord parseDkimRecord(std::string_view text) {
    DkimRecord r;
    std::vector<DkimTag> tags;
    if (!parseTagList(text, tags)) {
        r.error = "a tag without \"=\" in the DKIM record";
        return r;
    }
    bool haveKey = false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        auto [name, value] = tags[i];
        if (name == "v") {
            if (i != 0 || value != "DKIM1") {
                r.error = "the DKIM record's v= is not DKIM1 at its start";
                return r;
            }
        } else if (name == "k") {
            r.keyType = std::string(value);
        } else if (name == "p") {
            haveKey = true;
            r.publicBase64.clear();
            for (char c : value)
                if (!isWsp(c) && c != '\r' && c != '\n') r.publicBase64 += c;
        }
    }
    if (!haveKey) {
        r.error = "the DKIM record has no p= tag";
        return r;
    }
    std::string decoded;
    if (!r.publicBase64.empty() && !fromBase64(r.publicBase64, decoded)) {
        r.error = "the DKIM record's p= is not base64";
        return r;
    }
    r.valid = true;
    return r;
}

}  // namespace qm
