#include "delivery/smtp_session.h"

#include "delivery/send_log_buffer.h"

namespace qm {

namespace {

// A kept session failed before anything of the new message was accepted, in a way an idle
// server's hang-up gives: the message never reached the server, so a fresh connection may carry
// it without counting an offer.
bool droppedWhileIdle(const SmtpClient& c) {
    const SmtpStage stage = c.failedStage();
    if (stage == SmtpStage::Rset) return true;
    const SmtpFailure kind = c.failure();
    const bool hungUp = kind == SmtpFailure::ConnectionLost || kind == SmtpFailure::SocketError ||
                        (kind == SmtpFailure::Refused && c.replyCode() == 421);
    return hungUp && stage == SmtpStage::Mail;
}

}  // namespace

SmtpSession::SmtpSession(const DeliveryTarget& target, SendLogBuffer& log, int logSlot,
                         std::function<void(SmtpClient*)> track)
    : target_(target), log_(log), slot_(logSlot), track_(std::move(track)) {}

SmtpSession::~SmtpSession() {
    close();
}

void SmtpSession::close() {
    if (!client_) return;
    // Still tracked while QUIT waits, so a Stop can cut the wait short.
    client_->disconnect();
    if (track_) track_(nullptr);
    client_.reset();
    messages_ = 0;
}

bool SmtpSession::open(const DeliveryRoute& route, const std::atomic<bool>& running,
                       DeliveryOutcome& out) {
    close();
    client_ = std::make_unique<SmtpClient>(route.hosts.front().target(), route.port);
    configureClient(*client_, target_, route, log_, slot_);
    client_->setPipelining(true);
    if (track_) track_(client_.get());
    ++connections_;
    if (connectClient(*client_, target_, route, log_, slot_, running, out)) return true;
    close();
    return false;
}

DeliveryOutcome SmtpSession::deliver(const MimeMessage& message, const std::string& address,
                                     const std::string& subject, const std::string& senderAddress,
                                     const std::atomic<bool>& running) {
    if (target_.settings.perConnection <= 1)
        return deliverBuilt(target_, message, address, subject, senderAddress, log_, slot_, running,
                            track_);
    const DeliveryRoute route = chooseRoute(target_, address, senderAddress);
    if (client_) {
        const bool sameHost = route.reaches(client_->server(), client_->port());
        const bool idle = std::chrono::steady_clock::now() - lastUse_ > idleLimit_;
        if (!sameHost || idle || !client_->sessionOpen()) close();
    }
    if (auto failed = beginDelivery(route, address, log_, slot_)) return *failed;
    DeliveryOutcome out = offer(message, address, subject, route, running);
    if (out.kind == DeliveryOutcome::Interrupted) return out;
    if (out.kind != DeliveryOutcome::Sent) {
        close();  // any failure ends the session
    } else if (messages_ >= target_.settings.perConnection) {
        close();
    } else {
        lastUse_ = std::chrono::steady_clock::now();
    }
    return out;
}

DeliveryOutcome SmtpSession::offer(const MimeMessage& message, const std::string& address,
                                   const std::string& subject, const DeliveryRoute& route,
                                   const std::atomic<bool>& running) {
    const SmtpMessage smtp = smtpMessageOf(message, address);

    DeliveryOutcome out;
    bool freshRetryLeft = true;
    int offers = 0;
    while (offers < kSendAttempts) {
        if (!client_ && !open(route, running, out)) return out;
        const bool kept = messages_ > 0;
        if (client_->sendMessage(smtp)) {
            if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
            ++messages_;
            // The next message starts from a reset session, whatever this one left behind.
            client_->resetBeforeNextMessage();
            return {};
        }
        if (!running.load()) return {DeliveryOutcome::Interrupted, {}, {}};
        if (kept && offers == 0 && freshRetryLeft && droppedWhileIdle(*client_)) {
            freshRetryLeft = false;
            close();
            continue;
        }
        // A refused RSET before a new offer leaves the refusal of the offer before as the result.
        if (offers > 0 && client_->failedStage() == SmtpStage::Rset) break;
        ++offers;
        out = {DeliveryOutcome::Failed, "Email fail <" + subject + ">: " + client_->lastError(),
               client_->failure()};
        // With a pace, a refusal for the rate goes back to the run, which slows down first.
        if (refusedForRate(target_.rateAware, *client_, SmtpFailure::Refused)) {
            out.rateRefused = true;
            break;
        }
        // The server said it is closing; the next offer goes over a new connection.
        if (client_->replyCode() == 421 && !client_->deliveryUncertain()) {
            close();
            continue;
        }
        // Only a well-formed refusal on a live session is worth another try: anything else after
        // the end of the data means the server may hold the message.
        if (!client_->canRetry()) break;
    }
    return out;
}

}  // namespace qm
