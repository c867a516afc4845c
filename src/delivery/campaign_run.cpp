#include "delivery/campaign_run.h"

#include <cstdio>

#include "common/file_util.h"
#include "common/text.h"
#include "delivery/delivery_report.h"
#include "delivery/paced_delivery.h"
#include "delivery/recipient_delivery.h"
#include "delivery/recipient_queue.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_session.h"
#include "delivery/token_command.h"
#include "groups/address.h"
#include "groups/group_files.h"
#include "message/attachment_cache.h"
#include "message/dynamic_variables.h"
#include "message/html_tools.h"
#include "message/list_unsubscribe.h"
#include "message/mime_message.h"

namespace qm {

namespace {

std::string threadLabel(int index) {
    return "Thread# " + std::to_string(index + 1);
}

}  // namespace

std::string supportQuestion(int failedPercent) {
    char text[512];
    std::snprintf(
        text, sizeof text,
        "Nearly %d percent of your mails could not be sent.\nThis could be due to "
        "restrictions by your ISP's SMTP server.\nPlease contact our customer support for "
        "tips on getting good results.\nGo to customer support page?",
        failedPercent);
    return text;
}

std::string unavailableGroupsText(const std::vector<std::string>& groups) {
    if (groups.empty()) return {};
    std::string text = "Not sent, because the group file could not be read:";
    for (const auto& g : groups) text += " " + g + (&g == &groups.back() ? "." : ",");
    return text;
}

CheckResult checkDeliverySettings(DeliverySettings& s) {
    if (s.mxMode) {
        s.server.clear();
        s.userName.clear();
        s.password.clear();
        s.authenticate = false;
        return {};
    }
    s.server = std::string(trimWhite(s.server));
    if (s.server.empty())
        return {false, std::string(kMsgEnterMailServer), MessageField::DeliverySettings};
    if (s.authenticate && s.login == RelayLogin::OAuthCommand) {
        TokenResult token = fetchToken(s.tokenCommand);
        if (!token.ok) return {false, token.error, MessageField::DeliverySettings};
        wipeSecret(s.password);
        s.password = std::move(token.token);
    }
    return {};
}

CampaignRun::CampaignRun(Paths paths, SendLogBuffer& log, RunObserver& observer)
    : paths_(std::move(paths)), log_(log), observer_(observer) {}

CampaignRun::~CampaignRun() {
    stop();
    wait();
}

bool CampaignRun::start(RunRequest request) {
    std::lock_guard control(controlLock_);
    if (sending_.load()) return false;
    // The previous run's threads are ending or have ended; collect them first.
    if (coordinator_.joinable()) coordinator_.join();
    if (request.typed.empty() && request.groups.empty()) return false;
    request.delivery.threadCount =
        std::clamp(request.delivery.threadCount, kMinThreads, kMaxThreads);
    request.delivery.waitSeconds = std::clamp(request.delivery.waitSeconds, kMinWait, kMaxWait);
    request_ = std::move(request);
    target_ =
        DeliveryTarget{request_.delivery, request_.mxStartTls, request_.timeouts, request_.caFile};
    target_.mxPort = request_.mxPort;
    mxRoutes_.reset();
    if (request_.delivery.mxMode && request_.delivery.mxOrder == MxOrder::ByPreference)
        mxRoutes_ = std::make_unique<MxRouteCache>(MxOrder::ByPreference);
    target_.mxRoutes = mxRoutes_.get();
    target_.rateAware = request_.delivery.rate.limited();
    pace_ = std::make_unique<SendPace>(request_.delivery.rate, request_.rateBackoff);

    RecipientQueue::Events events;
    events.groupStarted = [this](const std::string& g, std::size_t n) {
        observer_.groupStarted(g, n);
    };
    events.unavailable = [this](const std::string& g, const std::string& text) {
        log_.append(0, "Group " + g + " was not sent: " + text + "\n");
        observer_.groupUnavailable(g, text);
    };
    events.skipped = [this](const Recipient& r, const std::string& g) { observer_.skipped(r, g); };
    queue_ = std::make_unique<RecipientQueue>(paths_, request_.typed, request_.groups,
                                              request_.autoUnsubscribe, std::move(events));
    std::vector<std::pair<std::string, std::string>> groupTexts = std::move(request_.groupTexts);
    // A resume goes on only with its journal in hand: without it another process may be sending
    // the same recipients.
    if (!openJournal(groupTexts)) return false;
    queue_->useGroupTexts(std::move(groupTexts));
    cache_ = std::make_unique<AttachmentCache>();
    if (!request_.sources.cache) request_.sources.cache = cache_.get();
    const CampaignMessage& m = request_.message;
    bodyForTyped_ = m.unsubscribeAddress.empty()
                        ? m.body
                        : withUnsubscribeText(m.body, m.format, m.unsubscribeAddress,
                                              m.unsubscribeScope, std::nullopt, m.footerMarkup);

    deleteReports(paths_);
    {
        std::lock_guard guard(resultLock_);
        sent_ = failed_ = 0;
        reports_.close();
        failures_.clear();
    }
    log_.setSpill(paths_.sendLog());
    stopRequested_ = false;
    aborted_ = false;
    clients_.assign(static_cast<size_t>(request_.delivery.threadCount), nullptr);
    statusActive_ = true;
    sending_ = true;
    observer_.runStarted(request_.typed.size());
    if (pace_->limited()) observer_.paceChanged(pace_->perMinute());
    replaySettled();
    coordinator_ = std::thread(&CampaignRun::coordinate, this);
    return true;
}

bool CampaignRun::openJournal(std::vector<std::pair<std::string, std::string>>& groupTexts) {
    journal_.reset();
    settled_.clear();
    std::string error;
    if (request_.resumed) {
        journal_ = RunJournal::reopen(request_.resumePath, request_.resumed->validBytes, &error);
        return journal_ != nullptr;
    } else if (request_.journal) {
        // The journal keeps each group as it is now, so a resume sends to these members even when
        // the file is edited meanwhile; the run reads the same text.
        for (const std::string& g : request_.groups) {
            std::string text;
            if (readFile(groupFilePath(paths_, g), text))
                groupTexts.emplace_back(g, std::move(text));
        }
        const std::string path = newJournalPath(paths_);
        if (path.empty())
            error = "the folder " + journalFolder(paths_) + " cannot be made";
        else
            journal_ = RunJournal::create(path, encodeRunRequest(request_, groupTexts), &error);
    } else {
        return true;
    }
    if (!journal_)
        log_.append(0, "The run journal could not be written (" + error +
                           "): this run cannot be resumed after a crash.\n");
    return true;
}

void CampaignRun::replaySettled() {
    if (!request_.resumed) return;
    const JournalContents& j = *request_.resumed;
    std::lock_guard guard(resultLock_);
    auto show = [&](const JournalEnd& e, bool sent, const std::string& text) {
        settled_.insert(journalKey(e.group, e.address));
        if (sent) {
            ++sent_;
        } else {
            ++failed_;
            failures_.emplace_back(e.address, text);
        }
        reports_.append(paths_, e.group, e.address, text);
        const int index = std::clamp(e.slot - 1, 0, kMaxThreads - 1);
        observer_.result(SendResult{index, threadLabel(index), sent, text, e.group, e.address, {}});
    };
    for (const JournalEnd& e : j.ended) {
        if (settled_.count(journalKey(e.group, e.address))) continue;
        show(e, e.outcome == JournalOutcome::Sent, e.text);
    }
    for (const JournalEnd& e : j.inDoubt) {
        if (settled_.count(journalKey(e.group, e.address))) continue;
        // Settled for good: a later resume reads it as ended, never offered again.
        if (journal_)
            journal_->end(e.slot, e.group, e.address, JournalOutcome::InDoubt, 0,
                          kStatusMayHaveBeenDelivered);
        show(e, false, std::string(kStatusMayHaveBeenDelivered));
    }
    if (journal_) journal_->sync();
}

void CampaignRun::runWorkers(void (CampaignRun::*worker)(int)) {
    std::vector<std::thread> threads;
    for (int i = 0; i < request_.delivery.threadCount; ++i) threads.emplace_back(worker, this, i);
    for (auto& t : threads) t.join();
}

void CampaignRun::coordinate() {
    if (queue_->typedTotal() > 0) runWorkers(&CampaignRun::typedWorker);
    if (statusActive_.load() && !request_.groups.empty()) runWorkers(&CampaignRun::groupWorker);

    bool wasSending = sending_.exchange(false);
    statusActive_ = false;
    {
        std::lock_guard guard(resultLock_);
        reports_.close();
    }
    if (journal_) {
        // A run that ended by itself or was stopped is over; one ended by a relay failure can be
        // resumed once the relay is back.
        if (aborted_)
            journal_->sync();
        else
            journal_->remove();
    }
    RunSummary s = summary();
    if (aborted_) return;  // the relay failure was reported; its log waits for the next write
    log_.write(paths_.sendLog());
    if (stopRequested_ || !wasSending)
        observer_.stopped(s);
    else
        observer_.finished(s);
}

SmtpSession CampaignRun::makeSession(int index) {
    return SmtpSession(target_, log_, index + 1, [this, index](SmtpClient* c) {
        std::lock_guard guard(clientsLock_);
        clients_[static_cast<size_t>(index)] = c;
    });
}

void CampaignRun::typedWorker(int index) {
    SmtpSession session = makeSession(index);
    while (statusActive_.load()) {
        auto address = queue_->nextTyped();
        if (!address || address->empty()) break;
        if (!deliver(session, index, *address, std::string(kGeneralGroup), nullptr)) break;
    }
}

void CampaignRun::groupWorker(int index) {
    SmtpSession session = makeSession(index);
    while (statusActive_.load()) {
        auto member = queue_->nextMember(sending_);
        if (!member) break;
        if (!deliver(session, index, member->recipient.email, member->group, &member->recipient))
            break;
    }
}

bool CampaignRun::deliver(SmtpSession& session, int index, const std::string& address,
                          const std::string& group, const Recipient* member) {
    if (!settled_.empty() && settled_.count(journalKey(group, address))) return true;
    const CampaignMessage& m = request_.message;
    std::string body =
        (member && !m.unsubscribeAddress.empty())
            ? withUnsubscribeText(m.body, m.format, m.unsubscribeAddress, m.unsubscribeScope,
                                  std::string_view(group), m.footerMarkup)
            : bodyForTyped_;
    if (m.useDynamicVariables)
        body = member ? personalise(body, *member) : personalise(body, address);

    MimeMessage msg;
    msg.extraHeaders =
        listHeaders(m, address, member ? std::optional<std::string_view>(group) : std::nullopt);
    buildRecipientMessage(msg, m, address, body, request_.sources);
    if (!sending_.load()) return false;

    const PaceHooks hooks{[this](TokenBucket::Clock::time_point t) { return waitUntil(t); },
                          [&](bool slowed) {
                              log_.append(index + 1,
                                          "Sending too fast for the server: slowing down\n");
                              if (slowed) observer_.paceChanged(pace_->perMinute());
                          }};
    // On disk before the MAIL FROM: a kill from here on leaves this recipient in doubt, never
    // offered again.
    if (journal_) journal_->begin(index + 1, group, address);
    const DeliveryOutcome outcome =
        deliverAtPace(session, *pace_, msg, address, m.subject, m.senderAddress, sending_, hooks);
    switch (outcome.kind) {
        case DeliveryOutcome::Interrupted:
            return false;
        case DeliveryOutcome::ConnectFailed:
            // Every later recipient would meet the same relay: the whole run ends.
            if (!target_.settings.mxMode) {
                // Nothing reached a server: a resume offers this recipient again.
                if (journal_) journal_->withdraw(index + 1, group, address);
                abortRun(outcome.failure == SmtpFailure::AuthFailed
                             ? authFailedText(target_.settings)
                             : std::string(kMsgRelayUnreachable));
                return false;
            }
            record(index, false, outcome.text, group, address, outcome.serverReply);
            break;
        case DeliveryOutcome::Failed:
            record(index, false, outcome.text, group, address, outcome.serverReply);
            break;
        case DeliveryOutcome::Sent:
            record(index, true, std::string(kStatusSent), group, address);
            break;
    }
    if (!sending_.load()) return false;
    return pause(request_.delivery.waitSeconds);
}

void CampaignRun::record(int index, bool sent, const std::string& text, const std::string& group,
                         const std::string& address, const std::string& serverReply) {
    std::lock_guard guard(resultLock_);
    // The journal first, whatever happens to the run: it is what a resume believes.
    if (journal_)
        journal_->end(index + 1, group, address,
                      sent ? JournalOutcome::Sent : JournalOutcome::Failed,
                      replyCodeOf(serverReply), text);
    if (!statusActive_.load()) return;
    if (sent) {
        ++sent_;
    } else {
        ++failed_;
        failures_.emplace_back(address, text);
    }
    reports_.append(paths_, group, address, text);
    observer_.result(
        SendResult{index, threadLabel(index), sent, text, group, address, serverReply});
}

void CampaignRun::abortRun(const std::string& message) {
    {
        std::lock_guard control(pauseLock_);
        if (!sending_.exchange(false)) return;  // already stopped or aborted
        statusActive_ = false;
        aborted_ = true;
    }
    pauseWake_.notify_all();
    {
        std::lock_guard guard(clientsLock_);
        for (SmtpClient* c : clients_)
            if (c) c->interrupt();
    }
    observer_.relayFailure(message);
}

bool CampaignRun::pause(int seconds) {
    if (seconds <= 0) return sending_.load();
    std::unique_lock lock(pauseLock_);
    pauseWake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return !sending_.load(); });
    return sending_.load();
}

bool CampaignRun::waitUntil(TokenBucket::Clock::time_point moment) {
    std::unique_lock lock(pauseLock_);
    pauseWake_.wait_until(lock, moment, [this] { return !sending_.load(); });
    return sending_.load();
}

void CampaignRun::stop() {
    {
        std::lock_guard control(pauseLock_);
        if (!sending_.load()) return;
        stopRequested_ = true;
        sending_ = false;
        statusActive_ = false;
    }
    pauseWake_.notify_all();
    std::lock_guard guard(clientsLock_);
    for (SmtpClient* c : clients_)
        if (c) c->interrupt();
}

void CampaignRun::wait() {
    std::lock_guard control(controlLock_);
    if (coordinator_.joinable()) coordinator_.join();
}

std::vector<std::pair<std::string, std::string>> CampaignRun::failures() const {
    std::lock_guard guard(resultLock_);
    return failures_;
}

RunSummary CampaignRun::summary() const {
    RunSummary s;
    {
        std::lock_guard guard(resultLock_);
        s.sent = sent_;
        s.failed = failed_;
    }
    s.skipped = queue_ ? queue_->skippedCount() : 0;
    s.unavailableGroups = queue_ ? queue_->unavailableGroups() : std::vector<std::string>{};
    if (s.sent + s.failed > 0)
        s.failedPercent = static_cast<int>(s.failed * 100 / (s.sent + s.failed));
    s.askSupport = s.failedPercent > 80;
    return s;
}

}  // namespace qm
