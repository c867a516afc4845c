// DKIM signatures over built messages, and the keys and DNS records that go with them.
//
// Entry points: DkimSigner::load() reads and checks a private key file once per run and gives a
// signer that every sending thread shares; signMessage() puts a DKIM-Signature line in front of a
// built MimeMessage's header block. generateDkimKey(), dkimTxtRecord() and quotedTxtStrings()
// make a key pair and the record to publish; parseDkimRecord() reads a published record back.
// relaxedHeader() and relaxedBody() are the canonical forms the signature covers.
//
// What is signed: the message exactly as the SMTP client puts it on the wire once transparency is
// undone, i.e. headerBlock followed by body. The MIME builder leaves the root part's own header
// lines (Content-Type...) at the top of `body`, so the header section runs on into `body` up to
// its first empty line. The signed fields are From, To, Subject, Date, Message-ID, MIME-Version,
// Content-Type, List-Unsubscribe and List-Unsubscribe-Post, each only when present (the last
// instance when a field repeats, as verifiers pick them bottom-up).
//
// Failure: load() and generateDkimKey() return nothing plus a one-line text: a key file that
// others may read (any group or other permission bit), a file without a private key, a key of the
// other algorithm, an RSA key under 2048 bits, a domain or selector that is not a DNS name.
// Signing itself cannot fail once a key has loaded; an OpenSSL failure there leaves the message
// unsigned and counts it in signFailures() rather than sending a broken signature.
// Limits: key files up to 64 KB; records parse up to their length, tags without bound checks on
// count beyond the record itself.
// Threads: a loaded signer is immutable and shared across threads; each call makes its own
// OpenSSL contexts (EVP_PKEY is safe to use from many threads for signing).
// Standard: RFC 6376 (DKIM, relaxed/relaxed), RFC 8463 (Ed25519-SHA256), RFC 8301 (RSA 1024 bits
// and under are refused; we ask for 2048).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class MimeMessage;

enum class DkimAlgorithm { Rsa, Ed25519 };

// "rsa" / "ed25519", the spelling of settings and command line; parse accepts those two only.
std::string_view dkimAlgorithmName(DkimAlgorithm algorithm);
bool parseDkimAlgorithm(std::string_view text, DkimAlgorithm& out);

inline constexpr int kMinRsaBits = 2048;

struct DkimConfig {
    std::string domain;    // d=
    std::string selector;  // s=
    std::string keyFile;
    DkimAlgorithm algorithm = DkimAlgorithm::Rsa;
};

// True when `name` is usable as d= or s=: dot-separated labels of letters, digits, "-" and "_".
bool isDkimName(std::string_view name);

// "name:value" after relaxed header canonicalisation of one field ("Name: value", continuation
// lines included, no final CR LF).
std::string relaxedHeader(std::string_view field);
// Relaxed body canonicalisation, handed to `sink` in pieces. A bare CR or LF ends a line, as the
// wire carries it.
void relaxedBody(std::string_view body, const std::function<void(std::string_view)>& sink);
std::string relaxedBody(std::string_view body);

class DkimSigner {
  public:
    struct KeyFree {
        void operator()(void* key) const;
    };

    // Reads `config.keyFile`, refusing one with group or other permission bits. With
    // `keyDecides`, the key's own type sets the algorithm instead of config.algorithm.
    static std::shared_ptr<const DkimSigner> load(const DkimConfig& config, std::string& error,
                                                  bool keyDecides = false);
    // The same checks on a PEM text in memory (no file mode to check).
    static std::shared_ptr<const DkimSigner> fromPem(const DkimConfig& config, std::string_view pem,
                                                     std::string& error, bool keyDecides = false);

    // "DKIM-Signature: ...\r\n" for the message headerBlock + body; `unixTime` is t=. Empty when
    // OpenSSL failed (counted in signFailures()).
    std::string signatureHeader(std::string_view headerBlock, std::string_view body,
                                std::int64_t unixTime) const;
    // The same for a body that follows in pieces (a message built with shared attachments),
    // hashed as it streams: no piece is copied beyond the leading ones that end the header
    // section.
    std::string signatureHeader(std::string_view headerBlock,
                                std::span<const std::string_view> body,
                                std::int64_t unixTime) const;
    // The p= value of the record that matches this key.
    std::string publicKeyBase64() const;
    const DkimConfig& config() const { return config_; }
    std::uint64_t signFailures() const { return failures_.load(); }

  private:
    DkimSigner() = default;
    DkimConfig config_;
    std::unique_ptr<void, KeyFree> key_;
    mutable std::atomic<std::uint64_t> failures_{0};
};

// Prepends the signature to message.headerBlock, t= from the clock now.
void signMessage(const DkimSigner& signer, MimeMessage& message);

struct DkimKeyPair {
    std::string privatePem;    // PKCS#8 PEM
    std::string publicBase64;  // the p= value
};
// `rsaBits` is used for RSA only and must be kMinRsaBits or more.
bool generateDkimKey(DkimAlgorithm algorithm, int rsaBits, DkimKeyPair& out, std::string& error);

// "v=DKIM1; k=rsa; p=..." (k=ed25519 for Ed25519).
std::string dkimTxtRecord(DkimAlgorithm algorithm, std::string_view publicBase64);
// The record as DNS zone files and provider forms take it: quoted strings of at most 255
// characters each, separated by one space.
std::string quotedTxtStrings(std::string_view record);

struct DkimTag {
    std::string_view name;
    std::string_view value;
};
// A "name=value; name=value" tag list as DKIM key records and DMARC records write them, names and
// values trimmed; false when a tag has no "=".
bool parseTagList(std::string_view text, std::vector<DkimTag>& out);

struct DkimRecord {
    bool valid = false;
    std::string error;  // why not valid
    std::string keyType = "rsa";
    std::string publicBase64;  // p=, whitespace removed; empty means the key was revoked
};
// Reads a published key record (the TXT strings already joined).
DkimRecord parseDkimRecord(std::string_view text);

}  // namespace qm
