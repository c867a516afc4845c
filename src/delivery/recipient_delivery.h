// One recipient's delivery, shared by immediate runs and scheduled runs: build the MIME message
// under the process-wide build lock, then one SMTP connection with up to 4 connection attempts and
// up to 4 sending attempts, and the texts that a failure is recorded with.
//
// Entry points: buildRecipientMessage(), deliverBuilt(). The caller decides what an outcome means
// (an immediate run in relay mode ends the whole run on ConnectFailed; a scheduled run records it
// and goes on).
//
// Interruption: `running` is tested after every attempt, and `track` is told which client is in
// use (then nullptr) so a Stop on another thread can interrupt its network waits.
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

// `body` is the final body for this recipient (footer added, personalised).
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
    std::string lastError;  // the client's last error after a connection failure
};

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track);

}  // namespace qm
