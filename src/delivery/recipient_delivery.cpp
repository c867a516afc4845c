#include "delivery/recipient_delivery.h"

#include <algorithm>
#include <mutex>

#include "delivery/dns_resolver.h"
#include "delivery/send_log_buffer.h"
#include "delivery/send_pace.h"
#include "groups/address.h"
#include "message/dkim_signer.h"
#include "message/fill_message.h"

namespace qm {

MxRoute exchangersFor(const DeliveryTarget& target, std::string_view address) {
    if (target.mxRoutes) return target.mxRoutes->route(address);
    DnsResolver resolver;
    return resolveMxRoute(resolver, address, target.settings.mxOrder);
}

bool refusedForRate(bool rateAware, const SmtpClient& client, SmtpFailure kind) {
    return rateAware && client.failure() == kind &&
           isRateRefusal(client.replyCode(), client.refusalLine());
}

SmtpMessage smtpMessageOf(const MimeMessage& message, const std::string& address) {
    SmtpMessage smtp;
    smtp.sender = message.envelopeSender;
    smtp.recipients.push_back(address);
    smtp.headerBlock = message.headerBlock;
    smtp.body = message.body;
    for (const auto& piece : message.bodyPieces)
        smtp.bodyPieces.push_back({piece.text(), piece.wireReady});
    return smtp;
}

ConnectResult connectInTurn(SmtpClient& client, const std::vector<MxCandidate>& hosts, int port,
                            SendLogBuffer& log, int logSlot, const std::atomic<bool>& running,
                            std::string& failText, bool rateAware) {
    const SmtpSecurityOptions chosen = client.security();
    const std::size_t attempts = std::max<std::size_t>(kConnectAttempts, hosts.size());
    for (std::size_t attempt = 0; attempt < attempts && !hosts.empty(); ++attempt) {
        const MxCandidate& host = hosts[attempt % hosts.size()];
        client.setServer(host.target(), port);
        bool connected = client.connect();
        if (!connected && chosen.mode == SmtpSecurity::Opportunistic &&
            client.failedStage() == SmtpStage::Tls && running.load()) {
            // TLS was only offered: an exchanger that cannot finish it still takes mail in clear.
            log.append(logSlot, "Trying " + host.exchanger + " again without TLS\n");
            SmtpSecurityOptions clear = chosen;
            clear.mode = SmtpSecurity::None;
            client.setSecurity(clear);
            connected = client.connect();
            client.setSecurity(chosen);
        }
        if (!running.load()) return ConnectResult::Interrupted;
        if (connected) return ConnectResult::Connected;
        failText = "Connection fail " + host.exchanger + ": " + client.lastError();
        // A relay that turns the connection away for its quota says the same on the next three.
        if (refusedForRate(rateAware, client, SmtpFailure::NoGreeting))
            return ConnectResult::RateRefused;
        if (hosts.size() > 1 && attempt + 1 < attempts)
            log.append(logSlot, host.exchanger + " did not take the connection; next: " +
                                    hosts[(attempt + 1) % hosts.size()].exchanger + "\n");
    }
    return ConnectResult::Failed;
}

void buildRecipientMessage(MimeMessage& out, const CampaignMessage& m, const std::string& address,
                           std::string_view body, const MimeSources& sources) {
    out.sources = sources;
    // The attachments stay in the run's cache and go to the connection from there.
    out.shareAttachments = true;
    fillMimeMessage(out, m, address, body);
    {
        std::lock_guard build(mimeBuildLock());
        out.build();
    }
    // Outside the build lock: signing costs more than building and the signer is shared.
    if (sources.dkim) signMessage(*sources.dkim, out);
}

bool DeliveryRoute::reaches(const std::string& server, int p) const {
    return p == port && std::any_of(hosts.begin(), hosts.end(),
                                    [&](const MxCandidate& h) { return h.target() == server; });
}

DeliveryRoute chooseRoute(const DeliveryTarget& target, const std::string& address,
                          const std::string& senderAddress) {
    const DeliverySettings& d = target.settings;
    DeliveryRoute route;
    if (d.mxMode) {
        MxRoute mx = exchangersFor(target, address);
        route.hosts = std::move(mx.candidates);
        route.port = target.mxPort;
        route.hello = std::string(domainOf(address));
        // Not a domain without exchangers: connecting to the bare domain would be a guess; and a
        // null MX is the domain saying no.
        if (mx.status == MxRoute::NullMx)
            route.failure = std::string(kNullMxText);
        else if (mx.status != MxRoute::Ready)
            route.failure = "MX lookup failed: " + std::string(mx.error);
    } else {
        route.hosts.push_back({d.server, {}});
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
    if (!route.hosts.empty()) client.setServer(route.hosts.front().target(), route.port);
    client.setCredentials(!d.mxMode && d.authenticate, d.userName, d.password);
    client.setLogin(d.login == RelayLogin::OAuthCommand ? SmtpLogin::OAuthToken
                                                        : SmtpLogin::Password);
    SmtpSecurityOptions security = d.mxMode ? mxSecurity(target.mxStartTls) : relaySecurity(d);
    security.caFile = target.caFile;
    client.setSecurity(security);
    client.setTimeouts(target.timeouts);
    client.setLogSink(logSlot, &log);
    client.setHelloDomain(route.hello);
}

bool connectClient(SmtpClient& client, const DeliveryTarget& target, const DeliveryRoute& route,
                   SendLogBuffer& log, int logSlot, const std::atomic<bool>& running,
                   DeliveryOutcome& out) {
    switch (connectInTurn(client, route.hosts, route.port, log, logSlot, running, out.text,
                          target.rateAware)) {
        case ConnectResult::Interrupted:
            out = {DeliveryOutcome::Interrupted, {}, {}};
            return false;
        case ConnectResult::RateRefused:
            out.kind = DeliveryOutcome::Failed;
            out.failure = client.failure();
            out.serverReply = client.refusalLine();
            out.rateRefused = true;
            return false;
        case ConnectResult::Failed:
            out.kind = DeliveryOutcome::ConnectFailed;
            out.failure = client.failure();
            out.serverReply = client.refusalLine();
            return false;
        case ConnectResult::Connected:
            break;
    }
    return true;
}

DeliveryOutcome deliverBuilt(const DeliveryTarget& target, const MimeMessage& message,
                             const std::string& address, const std::string& subject,
                             const std::string& senderAddress, SendLogBuffer& log, int logSlot,
                             const std::atomic<bool>& running,
                             const std::function<void(SmtpClient*)>& track) {
    const DeliveryRoute route = chooseRoute(target, address, senderAddress);
    if (auto failed = beginDelivery(route, address, log, logSlot)) return *failed;

    SmtpClient client(route.hosts.front().target(), route.port);
    configureClient(client, target, route, log, logSlot);
    if (track) track(&client);
    struct Untrack {
        const std::function<void(SmtpClient*)>& track;
        ~Untrack() {
            if (track) track(nullptr);
        }
    } untrack{track};

    DeliveryOutcome out;
    if (!connectClient(client, target, route, log, logSlot, running, out)) return out;

    const SmtpMessage smtp = smtpMessageOf(message, address);
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
        out.serverReply = client.refusalLine();
        if (refusedForRate(target.rateAware, client, SmtpFailure::Refused)) {
            out.rateRefused = true;
            break;
        }
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
            out.serverReply = client.refusalLine();
        }
    }
    if (out.kind == DeliveryOutcome::Sent) out.text.clear(), out.serverReply.clear();
    return out;
}

}  // namespace qm
