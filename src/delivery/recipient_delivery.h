// One recipient's delivery, shared by immediate runs and scheduled runs: build the MIME message
// under the process-wide build lock, then one SMTP connection with up to 4 connection attempts and
// up to 4 offers of the message, and the texts that a failure is recorded with.
//
// Entry points: buildRecipientMessage(), deliverBuilt(), and the steps SmtpSession shares with it:
// chooseRoute(), beginDelivery(), configureClient(), connectClient(). The caller decides what an
// outcome means (an immediate run in relay mode ends the whole run on ConnectFailed; a scheduled
// run records it and goes on).
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
// Limits: one connection per recipient (SmtpSession keeps one for several); the stage time-outs
// of DeliveryTarget::timeouts.
//
// Threads: runs on the calling sending thread. `running` is tested after every attempt, and
// `track` is told which client is in use (then nullptr) so a Stop on another thread can interrupt
// its network waits.
//
// Standard: SMTP (RFC 5321) through SmtpClient.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "delivery/delivery_settings.h"
#include "delivery/smtp_client.h"
#include "message/campaign_message.h"
#include "message/mime_message.h"

namespace qm {

class SendLogBuffer;

// Connection attempts for one recipient, and offers of its message.
inline constexpr int kConnectAttempts = 4;
inline constexpr int kSendAttempts = 4;

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
    // The client's failure behind Failed and ConnectFailed (AuthFailed tells a refused account).
    SmtpFailure failure = SmtpFailure::None;
};

// Where one recipient's message goes: the relay, or the exchanger of the recipient's domain.
struct DeliveryRoute {
    std::string host;
    int port = 25;
    std::string hello;    // the hello domain
    std::string failure;  // a lookup the DNS server could not answer; no connection is tried
};
DeliveryRoute chooseRoute(const DeliverySettings& settings, const std::string& address,
                          const std::string& senderAddress);
// Opens the recipient's block in the send log; for a failed lookup, logs it and gives the outcome
// to record.
std::optional<DeliveryOutcome> beginDelivery(const DeliveryRoute& route, const std::string& address,
                                             SendLogBuffer& log, int logSlot);
// A client for `route` with the target's account, security, time-outs and the log slot.
void configureClient(SmtpClient& client, const DeliveryTarget& target, const DeliveryRoute& route,
                     SendLogBuffer& log, int logSlot);
// Up to 4 connection attempts: true when connected; else `out` is ConnectFailed or Interrupted.
bool connectClient(SmtpClient& client, const std::string& host, const std::atomic<bool>& running,
                   DeliveryOutcome& out);

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track);

}  // namespace qm
