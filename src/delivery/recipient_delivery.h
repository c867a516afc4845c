// One recipient's delivery, shared by immediate runs and scheduled runs: build the MIME message
// under the process-wide build lock, then one SMTP connection with up to 4 connection attempts and
// up to 4 offers of the message, and the texts that a failure is recorded with.
//
// Entry points: buildRecipientMessage(), deliverBuilt(). The caller decides what an outcome means
// (an immediate run in relay mode ends the whole run on ConnectFailed; a scheduled run records it
// and goes on).
//
// Failure: the outcome's kind, the client's failure kind, and the text to record ("Connection
// fail HOST: ...", "Email fail <SUBJECT>: ...", "Error in SMTP Disconnect: Email maynot br sent!
// ..."). In MX mode a lookup that the DNS server could not answer fails the recipient with
// "Connection fail DOMAIN: MX lookup failed: ..." and no connection is tried (the bare domain is
// the exchanger only when DNS said there is none). A message is never delivered twice: it is
// offered again only after a well-formed refusal, and each new offer starts with RSET on the same
// connection. A garbled reply, a time-out or a lost connection after the end of the data ends the
// recipient at once with a text that says the message may have been delivered. When RSET is
// refused, the refusal of the offer before stays the result.
//
// Limits: one connection per recipient; the stage time-outs of DeliveryTarget::timeouts.
//
// Threads: runs on the calling sending thread. `running` is tested after every attempt, and
// `track` is told which client is in use (then nullptr) so a Stop on another thread can interrupt
// its network waits.
//
// Standard: SMTP (RFC 5321) through SmtpClient.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "delivery/delivery_settings.h"
#include "delivery/smtp_client.h"
#include "message/campaign_message.h"
#include "message/mime_message.h"

namespace qm {

class SendLogBuffer;

struct DeliveryTarget {
    DeliverySettings settings;  // checked: relay server, or MX mode
    bool mxStartTls = true;
    SmtpTimeouts timeouts = SmtpTimeouts::defaults();
    std::string caFile;  // trusted CAs instead of the system store (tests)
};

// `body` is the final body for this recipient (footer added, personalised). With sources.dkim set
// the built message is signed, its DKIM-Signature first in the header block.
void buildRecipientMessage(MimeMessage& out, const CampaignMessage& m, const std::string& address,
                           std::string_view body, const MimeSources& sources);

struct DeliveryOutcome {
    enum Kind {
        Sent,
        Failed,         // `text` is the failure to record
        ConnectFailed,  // 4 connection attempts failed; `text` is "Connection fail HOST: ..."
        Interrupted,    // `running` turned false: nothing to record
    };
    Kind kind = Sent;
    std::string text;
    // The client's failure behind Failed and ConnectFailed (AuthFailed tells a refused account).
    SmtpFailure failure = SmtpFailure::None;
};

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track);

}  // namespace qm
