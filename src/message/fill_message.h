// How the send engine turns the campaign message into one recipient's MimeMessage.
//
// Entry points: fillMimeMessage(). For one recipient, on a sending thread:
//   1. body = withUnsubscribeText(m.body, ...)           once per run or per group (html_tools.h)
//   2. copy = m.useDynamicVariables ? personalise(body, recipient) : body   (dynamic_variables.h)
//   3. MimeMessage msg; msg.sources = {clock, id, &runCache}; fillMimeMessage(msg, m, to, copy);
//   4. { std::lock_guard g(mimeBuildLock()); msg.build(); }
// rewriteInlineImages() must have run on m.body (HTML format) before step 1, so the embedded flags
// are set; both name the inline parts with contentIdsFor() over the same attachment list, so every
// "cid:" reference names its own part.
//
// Failure: none; the builder reports no errors (mime_message.h).
//
// Limits: the run's AttachmentCache makes every attachment cost one encode per run.
//
// Threads: filling needs no lock; each sending thread fills its own MimeMessage.
//
// Standard: see mime_part.h.
#pragma once

#include <string_view>

#include "message/campaign_message.h"
#include "message/mime_message.h"

namespace qm {

// Sender, the one To recipient (no display name), subject, and the parts of the message's shape,
// with `body` as the personalised body. The "=" of the HTML part is escaped here. The HTML shape's
// text alternative is `body` itself or, with TextPartStyle::Readable, htmlToText() of it
// (html_text.h). Header lines beyond the builder's own (List-Unsubscribe) are the caller's:
// MimeMessage::extraHeaders, from listUnsubscribeHeaders() (list_unsubscribe.h).
void fillMimeMessage(MimeMessage& out, const CampaignMessage& m, std::string_view toAddress,
                     std::string_view body);

}  // namespace qm
