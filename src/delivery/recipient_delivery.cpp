#include "delivery/recipient_delivery.h"

#include <mutex>

#include "delivery/dns_resolver.h"
#include "delivery/send_log_buffer.h"
#include "groups/address.h"
#include "message/fill_message.h"

namespace qm {

void buildRecipientMessage(MimeMessage& out, const CampaignMessage& m, const std::string& address,
                           std::string_view body, const MimeSources& sources) {
    out.sources = sources;
    fillMimeMessage(out, m, address, body);
    std::lock_guard build(mimeBuildLock());
    out.build();
}

DeliveryRoute chooseRoute(const DeliverySettings& d, const std::string& address,
                          const std::string& senderAddress) {
    DeliveryRoute route;
    if (d.mxMode) {
        DnsResolver resolver;
        MxHost mx = selectMxHost(resolver, address);
        route.host = mx.host;
        route.hello = std::string(domainOf(address));
        // Not a domain without exchangers: connecting to the bare domain would be a guess.
        if (mx.status == DnsStatus::TemporaryFailure)
            route.failure = "MX lookup failed: " + std::string(mx.error);
    } else {
        route.host = d.server;
        route.port = static_cast<int>(d.port);
        route.hello = std::string(domainOf(senderAddress));
    }
    return route;
}

std::optional<DeliveryOutcome> beginDelivery(const DeliveryRoute& route, const std::string& address,
                                             SendLogBuffer& log, int logSlot) {
    log.beginRecipient(logSlot, address);
    if (route.failure.empty()) return std::nullopt;
    log.append(logSlot, route.failure + "\n");
    return DeliveryOutcome{DeliveryOutcome::Failed,
                           "Connection fail " + route.hello + ": " + route.failure,
                           SmtpFailure::None};
}

void configureClient(SmtpClient& client, const DeliveryTarget& target, const DeliveryRoute& route,
                     SendLogBuffer& log, int logSlot) {
    const DeliverySettings& d = target.settings;
    if (!d.mxMode) client.setServer(route.host, route.port);
    client.setCredentials(!d.mxMode && d.authenticate, d.userName, d.password);
    SmtpSecurityOptions security = d.mxMode ? mxSecurity(target.mxStartTls) : relaySecurity(d);
    security.caFile = target.caFile;
    client.setSecurity(security);
    client.setTimeouts(target.timeouts);
    client.setLogSink(logSlot, &log);
    client.setHelloDomain(route.hello);
}

bool connectClient(SmtpClient& client, const std::string& host, const std::atomic<bool>& running,
                   DeliveryOutcome& out) {
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (client.connect()) return true;
        out.text = "Connection fail " + host + ": " + client.lastError();
        if (!running.load()) {
            out = {DeliveryOutcome::Interrupted, {}, {}};
            return false;
        }
    }
    out.kind = DeliveryOutcome::ConnectFailed;
    out.failure = client.failure();
    return false;
}

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track) {
    const DeliveryRoute route = chooseRoute(target.settings, address, senderAddress);
    if (auto failed = beginDelivery(route, address, log, logSlot)) return *failed;

    SmtpClient client(route.host, 25);
    configureClient(client, target, route, log, logSlot);
    if (track) track(&client);
    struct Untrack {
        const std::function<void(SmtpClient*)>& track;
        ~Untrack() {
            if (track) track(nullptr);
        }
    } untrack{track};

    DeliveryOutcome out;
    if (!connectClient(client, route.host, running, out)) return out;

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
