#include "delivery/paced_delivery.h"

namespace qm {

namespace {

bool waitForPace(SendPace& pace, const PaceHooks& hooks) {
    if (!pace.limited()) return true;
    for (;;) {
        const SendPace::Slot slot = pace.next();
        if (!hooks.waitUntil(slot.go)) return false;
        // A rate refusal while this thread waited: its moment belonged to the faster pace.
        if (pace.slowDowns() == slot.slowDowns) return true;
    }
}

}  // namespace

DeliveryOutcome deliverAtPace(SmtpSession& session, SendPace& pace, const MimeMessage& message,
                              const std::string& address, const std::string& subject,
                              const std::string& senderAddress, const std::atomic<bool>& running,
                              const PaceHooks& hooks) {
    DeliveryOutcome outcome;
    for (int rateTry = 0;; ++rateTry) {
        if (!running.load() || !waitForPace(pace, hooks)) {
            outcome = {};
            outcome.kind = DeliveryOutcome::Interrupted;
            return outcome;
        }
        outcome = session.deliver(message, address, subject, senderAddress, running);
        if (!outcome.rateRefused || rateTry + 1 >= kRateRetries) return outcome;
        const bool slowed = pace.slowDown();
        if (hooks.rateRefused) hooks.rateRefused(slowed);
    }
}

}  // namespace qm
