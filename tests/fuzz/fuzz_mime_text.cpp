// Subject, sender name, body and file name come from users and files: whatever they hold, the built
// message must be valid on the wire (CR only in CR LF, no line over 998 octets, headers that no
// input can add to, a short Content-ID of safe characters). Input: four fields separated by NUL
// bytes; the fifth bit of the first byte picks HTML.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/smtp_transparency.h"
#include "message/mime_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string fields[4];
    for (int k = 0, pos = 0; k < 4; ++k) {
        std::size_t nul = input.find('\0', static_cast<std::size_t>(pos));
        if (nul == std::string_view::npos) nul = input.size();
        if (static_cast<std::size_t>(pos) <= input.size())
            fields[k] = std::string(input.substr(static_cast<std::size_t>(pos), nul - pos));
        pos = static_cast<int>(nul) + 1;
    }
    const bool html = size > 0 && (data[0] & 0x10);
    qm::MimeMessage msg;
    msg.sources.clock = [] { return qm::LocalMoment{0, 0}; };
    msg.sources.messageId = [](std::string_view d) { return "fuzz@" + std::string(d); };
    msg.envelopeSender = "<a@b.example>";
    msg.subject = fields[0];
    msg.senderName = fields[1];
    msg.addRecipient("c@d.example", fields[1], qm::kRecipientTo);
    if (html) {
        qm::MimePart* mixed = msg.setRoot(qm::ContentKind::Mixed);
        msg.addChild(mixed, qm::ContentKind::HtmlText, fields[2], qm::kLabelByKind, {});
        msg.addChild(mixed, qm::ContentKind::FileAttachment, "/nonexistent/" + fields[3],
                     qm::kLabelByKind, {});
        msg.addChild(mixed, qm::ContentKind::InlineFile, "/nonexistent/x", qm::kLabelByKind,
                     fields[3]);
    } else {
        msg.body = fields[2];
        msg.addPart("/nonexistent/" + fields[3], qm::ContentKind::FileAttachment, {},
                    qm::kLabelByKind, true);
    }
    msg.build();
    if (!qm::hasMailLines(msg.headerBlock + msg.body)) std::abort();
    // Only the header lines the builder writes start a line of the header section.
    std::size_t lines = 0;
    for (std::size_t at = 0; at < msg.headerBlock.size();
         at = msg.headerBlock.find("\r\n", at) + 2) {
        if (msg.headerBlock[at] != ' ' && msg.headerBlock[at] != '\t') ++lines;
    }
    if (lines != 7) std::abort();  // From, To, Date, Message-ID, Subject, X-Mailer, MIME-Version
    if (html) {
        // The inline part is the last one; the HTML text before it may spell the header too.
        std::size_t at = msg.body.rfind("\r\nContent-ID: <");
        if (at == std::string::npos) std::abort();
        at += 15;
        std::size_t end = msg.body.find(">\r\n", at);
        if (end == std::string::npos || end - at > qm::kMaxPlainContentId) std::abort();
        std::string id = msg.body.substr(at, end - at);
        if (qm::contentIdFor(id) != id) std::abort();
    }
    return 0;
}
