// One message offered at the run's sending pace: what an immediate run's threads and a scheduled
// run's thread both do when "At most N messages per minute/hour" is set.
//
// Entry points: deliverAtPace() waits for the pace's moment, offers the message through the
// session, and while the server refuses it for the rate it is sent at, slows the pace down and
// offers it again (after the pace's back-off), at most kRateRetries times; the recipient's result
// is the last outcome. Without a limit it is one session.deliver().
//
// Failure: the session's outcome; Interrupted when `waitUntil` reports that the run ended while
// waiting.
//
// Threads: the caller's sending thread; the pace is shared and thread-safe. `waitUntil` must
// return early (false) when the run is stopped, so a Stop never waits out a slow pace.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "delivery/send_pace.h"
#include "delivery/smtp_session.h"

namespace qm {

// Rate refusals of one recipient before the refusal is its result: with the pace halved each
// time, a relay that still refuses after this many is refusing for some other reason.
inline constexpr int kRateRetries = 8;

struct PaceHooks {
    // Sleeps until the moment given, or until the run ends; false when it ended.
    std::function<bool(TokenBucket::Clock::time_point)> waitUntil;
    // The server refused for the rate; `slowed` when this refusal halved the pace (the others of
    // the same back-off do not).
    std::function<void(bool slowed)> rateRefused;
};

DeliveryOutcome deliverAtPace(SmtpSession& session, SendPace& pace, const MimeMessage& message,
                              const std::string& address, const std::string& subject,
                              const std::string& senderAddress, const std::atomic<bool>& running,
                              const PaceHooks& hooks);

}  // namespace qm
