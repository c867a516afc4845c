#include "message/mime_message.h"

#include <openssl/rand.h>

#include <random>

#include "common/header_encoding.h"
#include "groups/address.h"

namespace qm {

namespace {

bool isMultipart(ContentKind kind) {
    return static_cast<int>(kind) >= 1000;
}

std::unique_ptr<MimePart> makePart(ContentKind kind, std::string content, int label,
                                   std::string parameters) {
    auto p = std::make_unique<MimePart>();
    p->kind = kind;
    p->content = std::move(content);
    p->label = label;
    p->parameters = std::move(parameters);
    return p;
}

// The address inside the envelope sender's angle brackets (the whole text when it has none).
std::string_view bareAddress(std::string_view envelope) {
    if (envelope.size() >= 2 && envelope.front() == '<' && envelope.back() == '>')
        return envelope.substr(1, envelope.size() - 2);
    return envelope;
}

// The sender's domain when it is a plain dot-separated host name, else a stand-in.
std::string senderDomain(std::string_view address) {
    std::string_view domain = domainOf(address);
    bool ok = !domain.empty() && domain.front() != '.' && domain.back() != '.';
    for (char c : domain)
        ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-');
    return ok ? std::string(domain) : std::string("localhost.localdomain");
}

std::string mailboxLine(std::string_view name, const std::vector<MimeRecipient>& recipients,
                        int kind) {
    std::vector<Mailbox> boxes;
    for (const auto& r : recipients)
        if (r.kind == kind) boxes.push_back({r.displayName, r.address});
    return boxes.empty() ? std::string() : mailboxHeader(name, boxes) + "\r\n";
}

}  // namespace

std::string randomMessageId(std::string_view domain) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        std::random_device rd;
        for (auto& b : bytes) b = static_cast<unsigned char>(rd());
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    return id + "@" + std::string(domain);
}

std::mutex& mimeBuildLock() {
    static std::mutex lock;
    return lock;
}

bool MimeMessage::addRecipient(std::string address, std::string displayName, int kind) {
    recipients.push_back({std::move(address), std::move(displayName), kind});
    return true;
}

bool MimeMessage::addRecipientList(std::string_view text, int kind) {
    std::size_t pos = 0;
    for (;;) {
        std::size_t semi = text.find(';', pos);
        std::string_view item =
            text.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos);
        std::size_t lt = item.find('<');
        if (lt == std::string_view::npos) {
            addRecipient(std::string(item), {}, kind);
        } else {
            std::size_t gt = item.find('>');
            if (gt == std::string_view::npos || gt < lt) return false;
            addRecipient(std::string(item.substr(lt + 1, gt - lt - 1)),
                         std::string(item.substr(0, lt)), kind);
        }
        if (semi == std::string_view::npos) return true;
        pos = semi + 1;
    }
}

MimePart* MimeMessage::setRoot(ContentKind kind) {
    root_ = makePart(kind, {}, kLabelByKind, {});
    return root_.get();
}

MimePart* MimeMessage::addChild(MimePart* parent, ContentKind kind, std::string content, int label,
                                std::string parameters) {
    if (!parent) return nullptr;
    parent->children.push_back(makePart(kind, std::move(content), label, std::move(parameters)));
    return parent->children.back().get();
}

MimePart* MimeMessage::addPart(std::string content, ContentKind kind, std::string parameters,
                               int label, bool nameInContentType) {
    auto part = makePart(kind, std::move(content), label, std::move(parameters));
    part->nameInContentType = nameInContentType;
    if (!root_) {
        if (isMultipart(kind)) {
            root_ = std::move(part);
            return root_.get();
        }
        setRoot(ContentKind::Mixed);
    }
    auto& children = root_->children;
    auto where = kind == ContentKind::PlainText ? children.begin() : children.end();
    return children.insert(where, std::move(part))->get();
}

void MimeMessage::build() {
    date = sources.clock ? sources.clock() : systemLocalMoment();
    std::string_view from = bareAddress(envelopeSender);
    std::string domain = senderDomain(from);
    messageId = headerSafe(sources.messageId ? sources.messageId(domain) : randomMessageId(domain));

    headerBlock = mailboxHeader("From", {{senderName, from}}) + "\r\n";
    headerBlock += mailboxLine("To", recipients, kRecipientTo);
    headerBlock += mailboxLine("Cc", recipients, kRecipientCc);
    headerBlock += "Date: " + formatMailDate(date) + "\r\n";
    headerBlock += "Message-ID: <" + messageId + ">\r\n";
    headerBlock += unstructuredHeader("Subject", subject) + "\r\n";
    headerBlock += unstructuredHeader("X-Mailer", mailerName) + "\r\n";
    for (const auto& line : extraHeaders) headerBlock += line + "\r\n";
    headerBlock += "MIME-Version: 1.0\r\n";

    if (!body.empty()) {
        if (root_)
            addPart(std::move(body), ContentKind::PlainText, {}, kLabel7Bit, false);
        else
            root_ = makePart(ContentKind::PlainText, std::move(body), kLabel7Bit, {});
    }
    body.clear();
    bodyPieces.clear();
    PartWriter writer{body, lineLength, sources.cache, true};
    if (shareAttachments) writer.pieces = &bodyPieces;
    if (root_) writePart(*root_, writer, 0);
    if (!writer.endsWithCrLf()) body += "\r\n";
    writer.flush();
}

std::string MimeMessage::wholeBody() const {
    if (!shareAttachments) return body;
    std::string whole;
    for (const auto& piece : bodyPieces) whole += piece.text();
    return whole;
}

}  // namespace qm
