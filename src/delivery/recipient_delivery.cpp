#include "delivery/recipient_delivery.h"

#include <mutex>

#include "delivery/dns_resolver.h"
#include "delivery/send_log_buffer.h"
#include "groups/address.h"
#include "message/dkim_signer.h"
#include "message/fill_message.h"

namespace qm {

namespace {

constexpr int kConnectAttempts = 4;
constexpr int kSendAttempts = 4;

}  // namespace

void buildRecipientMessage(MimeMessage& out, const CampaignMessage& m, const std::string& address,
                           std::string_view body, const MimeSources& sources) {
    out.sources = sources;
    fillMimeMessage(out, m, address, body);
    {
        std::lock_guard build(mimeBuildLock());
        out.build();
    }
    // Outside the build lock: signing costs more than building and the signer is shared.
    if (sources.dkim) signMessage(*sources.dkim, out);
}

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track) {
    const DeliverySettings& d = target.settings;
    std::string host;
    int port = 25;
    std::string hello;
    MxHost mx;
    if (d.mxMode) {
        DnsResolver resolver;
        mx = selectMxHost(resolver, address);
        host = mx.host;
        hello = std::string(domainOf(address));
    } else {
        host = d.server;
        port = static_cast<int>(d.port);
        hello = std::string(domainOf(senderAddress));
    }
    log.beginRecipient(logSlot, address);
    if (mx.status == DnsStatus::TemporaryFailure) {
        // Not a domain without exchangers: connecting to the bare domain would be a guess.
        std::string text = "MX lookup failed: " + std::string(mx.error);
        log.append(logSlot, text + "\n");
        return {DeliveryOutcome::Failed, "Connection fail " + hello + ": " + text,
                SmtpFailure::None};
    }

    SmtpClient client(host, 25);
    if (!d.mxMode) client.setServer(host, port);
    client.setCredentials(!d.mxMode && d.authenticate, d.userName, d.password);
    SmtpSecurityOptions security = d.mxMode ? mxSecurity(target.mxStartTls) : relaySecurity(d);
    security.caFile = target.caFile;
    client.setSecurity(security);
    client.setTimeouts(target.timeouts);
    client.setLogSink(logSlot, &log);
    client.setHelloDomain(hello);
    if (track) track(&client);
    struct Untrack {
        const std::function<void(SmtpClient*)>& track;
        ~Untrack() {
            if (track) track(nullptr);
        }
    } untrack{track};

    DeliveryOutcome out;
    bool connected = false;
    for (int attempt = 0; attempt < kConnectAttempts && !connected; ++attempt) {
        connected = client.connect();
        if (!connected) out.text = "Connection fail " + host + ": " + client.lastError();
        if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
    }
    if (!connected) {
        out.kind = DeliveryOutcome::ConnectFailed;
        out.failure = client.failure();
        return out;
    }

    SmtpMessage smtp;
    smtp.sender = message.envelopeSender;
    smtp.recipients.push_back(address);
    smtp.headerBlock = message.headerBlock;
    smtp.body = message.body;
    bool sent = false;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        // Each try is a transaction of its own. A server that will not reset leaves the refusal
        // of the try before as the result.
        if (attempt > 0 && !client.reset()) {
            if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
            break;
        }
        sent = client.sendMessage(smtp);
        if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
        if (sent) break;
        out.text = "Email fail <" + subject + ">: " + client.lastError();
        out.failure = client.failure();
        // Only a well-formed refusal on a live session is worth another try. Anything else after
        // the end of the data means the server may hold the message: offering it again could
        // deliver it twice.
        if (!client.canRetry()) break;
    }
    out.kind = sent ? DeliveryOutcome::Sent : DeliveryOutcome::Failed;
    if (!client.disconnect()) {
        if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
        // A failure already recorded keeps its own text.
        if (sent) {
            out.kind = DeliveryOutcome::Failed;
            out.failure = client.failure();
            out.text = "Error in SMTP Disconnect: Email maynot br sent! " + client.lastError();
        }
    }
    if (out.kind == DeliveryOutcome::Sent) out.text.clear();
    return out;
}

}  // namespace qm
