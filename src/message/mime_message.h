// The MIME message of one recipient: header block and body, the text that follows SMTP DATA.
//
// Entry points: fill a MimeMessage (sender, subject, recipients, parts; fillMimeMessage() in
// message/fill_message.h does it the way the send engine needs), then build(). headerBlock and
// body are then the results; the SMTP client sends headerBlock unchanged and body after its
// transparency step (common/smtp_transparency.h).
//
// Three shapes come out: plain text alone; plain text first under a multipart/mixed with one part
// per attachment; and HTML as mixed > related > alternative (plain source, then HTML), inline
// pictures under related, attachments under mixed. Header lines: From, To, Cc, Date, Message-ID,
// Subject, X-Mailer, MIME-Version; the root part's own header lines end the header section.
// Subject and display names are stripped of line breaks and RFC 2047-encoded when not plain ASCII.
//
// Sources: the clock, the Message-ID and the attachment cache come from `sources`, so tests fix the
// bytes and a run encodes each attachment once. Unset, build() reads the system clock, makes a
// random Message-ID on the sender's domain, and encodes files itself.
//
// Failure: none; the builder reports no errors.
// Limits: header lines stay within 998 octets (Content-IDs included, mime_part.h).
// Threads: filling needs no lock. The send engine calls build() holding mimeBuildLock(), the
// process-wide build lock; nothing in build() depends on it (the boundary depth is passed down the
// recursion, the handler table is constant), and with a warm cache a build is a few copies of
// already-encoded text.
// Standard: RFC 5322, RFC 2045-2047, RFC 2387 (related), RFC 2392 (cid:).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/time_format.h"
#include "message/mime_part.h"

namespace qm {

class DkimSigner;

struct MimeRecipient {
    std::string address;
    std::string displayName;
    int kind = 0;  // 0 To, 1 Cc; any other kind is for RCPT TO only and goes into no header
};

inline constexpr int kRecipientTo = 0;
inline constexpr int kRecipientCc = 1;

struct MimeSources {
    std::function<LocalMoment()> clock;
    // The unique part and domain of a Message-ID ("id@domain", no angle brackets).
    std::function<std::string(std::string_view senderDomain)> messageId;
    AttachmentCache* cache = nullptr;
    // Signs each built message when set (message/dkim_signer.h); loaded once per run, shared.
    std::shared_ptr<const DkimSigner> dkim;
};

// "<random hex>@domain".
std::string randomMessageId(std::string_view senderDomain);

// The process-wide lock the send engine holds around build().
std::mutex& mimeBuildLock();

class MimeMessage {
  public:
    std::string envelopeSender;  // "<" + address + ">", also MAIL FROM
    std::string senderName;
    std::string subject;
    std::string mailerName = "ZEB Mailer";
    std::string headerBlock;  // result of build()
    LocalMoment date;         // the build moment
    std::string messageId;    // as written, without angle brackets
    std::string body;         // before build(): an optional plain-text body; after: the MIME body
    std::size_t lineLength = 76;
    std::vector<MimeRecipient> recipients;
    MimeSources sources;
    // Set before build(): the body comes out as `bodyPieces` (the personalised text and views of
    // the encoded attachments, shared with every other message of the run) and `body` stays
    // empty. Joined, the pieces are the bytes build() gives otherwise.
    bool shareAttachments = false;
    std::vector<BodyPiece> bodyPieces;
    // Whole header lines (continuations joined by CR LF + blank, no final CR LF) written before
    // MIME-Version, such as List-Unsubscribe (list_unsubscribe.h); the caller makes them safe.
    std::vector<std::string> extraHeaders;

    bool addRecipient(std::string address, std::string displayName, int kind);
    // Items separated by ";": "address" or "name<address>". False at the first item whose ">" is
    // missing or stands before its "<" (the items before it stay added).
    bool addRecipientList(std::string_view text, int kind);

    MimePart* root() const { return root_.get(); }
    // A new empty part of `kind` as the root (the old tree is dropped).
    MimePart* setRoot(ContentKind kind);
    MimePart* addChild(MimePart* parent, ContentKind kind, std::string content, int label,
                       std::string parameters);
    // Under the root (made a multipart/mixed when there is none and `kind` is not a multipart):
    // plain text first, everything else last.
    MimePart* addPart(std::string content, ContentKind kind, std::string parameters, int label,
                      bool nameInContentType);

    void build();
    // The body as one text, whichever way it was built.
    std::string wholeBody() const;

  private:
    std::unique_ptr<MimePart> root_;
};

}  // namespace qm
