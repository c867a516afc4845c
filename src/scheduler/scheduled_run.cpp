#include "scheduler/scheduled_run.h"

#include <memory>

#include "delivery/campaign_run.h"
#include "delivery/paced_delivery.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_session.h"
#include "message/attachment_cache.h"
#include "message/dynamic_variables.h"
#include "message/html_tools.h"
#include "message/list_unsubscribe.h"
#include "scheduler/outbox.h"

namespace qm {

ScheduledRun::~ScheduledRun() {
    cancel();
    wait();
}

bool ScheduledRun::start(ScheduledRunRequest request) {
    if (running_.load()) return false;
    wait();
    request_ = std::move(request);
    active_ = true;
    running_ = true;
    thread_ = std::thread(&ScheduledRun::run, this);
    return true;
}

void ScheduledRun::cancel() {
    {
        std::lock_guard guard(pauseLock_);
        active_ = false;
    }
    pauseWake_.notify_all();
    std::lock_guard guard(clientLock_);
    if (client_) client_->interrupt();
}

void ScheduledRun::wait() {
    if (thread_.joinable()) thread_.join();
}

bool ScheduledRun::waitUntil(std::chrono::steady_clock::time_point moment) {
    std::unique_lock lock(pauseLock_);
    pauseWake_.wait_until(lock, moment, [this] { return !active_.load(); });
    return active_.load();
}

void ScheduledRun::run() {
    OutboxRun stored;
    if (!request_.done && readOutbox(request_.outboxPath, stored)) {
        CampaignMessage m;
        m.senderName = stored.senderName;
        m.senderAddress = stored.senderAddress;
        m.subject = stored.subject;
        m.format = stored.html ? MessageFormat::Html : MessageFormat::PlainText;
        m.body = stored.body;
        m.unsubscribeAddress = request_.unsubscribeAddress;
        m.unsubscribeScope = request_.unsubscribeScope;
        applyMailShape(m, request_.shape);
        // One file at a time keeps each embedded flag with its own file when one is unreadable.
        for (std::size_t i = 0; i < stored.attachments.size(); ++i) {
            std::size_t before = m.attachments.size();
            m.attachments.addFiles({stored.attachments[i]});
            if (m.attachments.size() > before && i < stored.embeddedFlags.size() &&
                stored.embeddedFlags[i] == 'y')
                m.attachments.setEmbedded(before);
        }
        std::string body =
            request_.unsubscribeAddress.empty()
                ? m.body
                : withUnsubscribeText(m.body, m.format, request_.unsubscribeAddress,
                                      request_.unsubscribeScope, std::nullopt, m.footerMarkup);
        AttachmentCache cache;
        MimeSources sources = request_.sources;
        if (!sources.cache) sources.cache = &cache;
        const int slot = 0;
        // The run's own cache: one lookup per domain for the whole list.
        DeliveryTarget target = request_.target;
        std::unique_ptr<MxRouteCache> routes;
        if (!target.mxRoutes && target.settings.mxMode &&
            target.settings.mxOrder == MxOrder::ByPreference) {
            routes = std::make_unique<MxRouteCache>(MxOrder::ByPreference);
            target.mxRoutes = routes.get();
        }
        // The relay's quota counts scheduled messages too.
        target.rateAware = target.settings.rate.limited();
        SendPace pace(target.settings.rate, request_.rateBackoff);
        const PaceHooks hooks{
            [this](TokenBucket::Clock::time_point t) { return waitUntil(t); },
            [this](bool) { log_.append(slot, "Sending too fast for the server: slowing down\n"); }};
        SmtpSession session(target, log_, slot, [this](SmtpClient* c) {
            std::lock_guard guard(clientLock_);
            client_ = c;
        });
        for (const std::string& address : outboxRecipientList(stored.recipients)) {
            if (!active_.load()) break;
            if (request_.begin && !request_.begin(address)) continue;
            MimeMessage msg;
            msg.extraHeaders = listUnsubscribeHeaders(m, address, std::nullopt);
            buildRecipientMessage(msg, m, address, personalise(body, address), sources);
            DeliveryOutcome outcome = deliverAtPace(session, pace, msg, address, m.subject,
                                                    m.senderAddress, active_, hooks);
            if (outcome.kind == DeliveryOutcome::Interrupted) break;
            if (request_.record)
                request_.record(
                    kScheduledThreadLabel,
                    outcome.kind == DeliveryOutcome::Sent ? kStatusSent : kScheduledFailed,
                    address);
            waitUntil(std::chrono::steady_clock::now() + request_.pause);
        }
    }
    running_ = false;
    if (request_.complete) request_.complete();
}

}  // namespace qm
