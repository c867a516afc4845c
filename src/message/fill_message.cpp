#include "message/fill_message.h"

#include "message/html_text.h"

namespace qm {

namespace {

std::string escapeEquals(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 64);
    // Spans between "=" are copied whole; the body is copied once per recipient.
    for (std::size_t pos = 0;;) {
        std::size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) {
            out.append(text.substr(pos));
            return out;
        }
        out.append(text.substr(pos, eq - pos));
        out += "=3D";
        pos = eq + 1;
    }
}

}  // namespace

void fillMimeMessage(MimeMessage& out, const CampaignMessage& m, std::string_view toAddress,
                     std::string_view body) {
    out.envelopeSender = "<" + m.senderAddress + ">";
    out.addRecipient(std::string(toAddress), {}, kRecipientTo);
    out.subject = m.subject;
    out.senderName = m.senderName;
    const auto& files = m.attachments;
    if (m.isHtml()) {
        MimePart* mixed = out.setRoot(ContentKind::Mixed);
        MimePart* related = out.addChild(mixed, ContentKind::Related, {}, kLabelByKind, {});
        MimePart* alternative =
            out.addChild(related, ContentKind::Alternative, {}, kLabelByKind, {});
        // Wrapped to the builder's own line length, so the builder keeps the renderer's lines.
        out.addChild(alternative, ContentKind::PlainText,
                     m.textPart == TextPartStyle::Readable ? htmlToText(body, out.lineLength)
                                                           : std::string(body),
                     kLabelByKind, {});
        out.addChild(alternative, ContentKind::HtmlText, escapeEquals(body), kLabelByKind, {});
        // Named from the whole list, as rewriteInlineImages() named the body's references.
        const std::vector<std::string> ids = contentIdsFor(files.names());
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files.isEmbedded(i))
                out.addChild(related, ContentKind::InlineFile, files.paths()[i], kLabelByKind,
                             ids[i]);
            else
                out.addChild(mixed, ContentKind::FileAttachment, files.paths()[i], kLabelByKind,
                             {});
        }
        return;
    }
    out.body = body.empty() ? std::string("\t") : std::string(body);
    for (const auto& path : files.paths())
        out.addPart(path, ContentKind::FileAttachment, {}, kLabelByKind, true);
}

}  // namespace qm
