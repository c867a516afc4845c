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
// Exchangers: the MX route (delivery/mx_route.h) in the order the settings choose; by preference,
// each connection attempt goes to the next candidate in turn, so a dead first exchanger costs one
// attempt, and at least 4 attempts are made in all. A null MX fails the recipient with
// "Connection fail DOMAIN: " and kNullMxText, with no connection. With opportunistic STARTTLS, an
// exchanger whose TLS start fails (handshake, refusal of what follows, time-out) is tried again at
// once in the same attempt without STARTTLS, as a mail server does when TLS is only offered; a
// relay whose TLS the user chose is never tried in clear.
//
// With DeliveryTarget::rateAware a refusal that names a sending rate is not offered again on the
// spot: the outcome says so and the caller decides when to try again.
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
#include "delivery/mx_route.h"
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
    // The run's lookups by preference, shared by its threads; null: each recipient looks up its
    // own route. Owned by the run.
    MxRouteCache* mxRoutes = nullptr;
    int mxPort = 25;  // where exchangers listen (tests use others)
    // A pace is set: a temporary refusal that names a rate ends the recipient's attempts at once
    // with DeliveryOutcome::rateRefused, so the caller can wait and slow down instead.
    bool rateAware = false;
};

// The exchangers to try for `address` in MX mode, through the run's cache when it has one.
MxRoute exchangersFor(const DeliveryTarget& target, std::string_view address);

enum class ConnectResult { Connected, Failed, Interrupted, RateRefused };
// Connects `client` (security, timeouts and log already set) to the first of `hosts` that takes
// the session, in turn, max(4, hosts) attempts; `failText` is the last failure's record text.
// With `rateAware`, a greeting that refuses for a sending rate ends the attempts at once.
ConnectResult connectInTurn(SmtpClient& client, const std::vector<MxCandidate>& hosts, int port,
                            SendLogBuffer& log, int logSlot, const std::atomic<bool>& running,
                            std::string& failText, bool rateAware = false);

// The client's last failure, of `kind`, refused the message for the rate it is sent at, and the
// run has a pace (`rateAware`) that can slow down for it.
bool refusedForRate(bool rateAware, const SmtpClient& client, SmtpFailure kind);

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
    // The first line of the server's refusal behind `text`, when a reply caused it (the record's
    // text is the fixed one; the command line shows this beside it).
    std::string serverReply{};
    // With DeliveryTarget::rateAware: the server refused the message, or the greeting, for the
    // rate it is being sent at (send_pace.h). The message was not taken.
    bool rateRefused = false;
};

// Where one recipient's message goes: the relay, or the exchangers of the recipient's domain.
struct DeliveryRoute {
    std::vector<MxCandidate> hosts;  // in the order to try; the relay alone in relay mode
    int port = 25;
    std::string hello;    // the hello domain
    std::string failure;  // a null MX, or a lookup the DNS server could not answer: no connection
    // True when a session open to `server`:`port` can carry this recipient's message.
    bool reaches(const std::string& server, int port) const;
};
DeliveryRoute chooseRoute(const DeliveryTarget& target, const std::string& address,
                          const std::string& senderAddress);
// Opens the recipient's block in the send log; for a failed lookup, logs it and gives the outcome
// to record.
std::optional<DeliveryOutcome> beginDelivery(const DeliveryRoute& route, const std::string& address,
                                             SendLogBuffer& log, int logSlot);
// A client for `route` with the target's account, security, time-outs and the log slot.
void configureClient(SmtpClient& client, const DeliveryTarget& target, const DeliveryRoute& route,
                     SendLogBuffer& log, int logSlot);
// connectInTurn() over the route: true when connected; else `out` is ConnectFailed or
// Interrupted.
bool connectClient(SmtpClient& client, const DeliveryTarget& target, const DeliveryRoute& route,
                   SendLogBuffer& log, int logSlot, const std::atomic<bool>& running,
                   DeliveryOutcome& out);
// The SMTP view of one recipient's built message (the message stays alive while it is used).
SmtpMessage smtpMessageOf(const MimeMessage& message, const std::string& address);

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track);

}  // namespace qm
