// The sending pace of a run: "at most N messages per minute or per hour", shared by every sending
// thread, and the slow-down when the relay says it is being sent to too fast.
//
// Hosted relays count messages per minute, hour or day and answer 421, 450 or 452 once a quota is
// spent. Four quick offers of the same message then only spend the recipient's attempts: the run
// has to wait and go on more slowly instead.
//
// Entry points: SendRate (the setting; parseSendRate() / sendRateText() for "300/min", "1000/h"),
// TokenBucket (the shared limiter, with an injectable clock), SendPace (the bucket plus the
// slow-down rule the engine follows), isRateRefusal() (does a 4xx reply name a rate?),
// paceStatusText() (the status line).
// Failure: parseSendRate() gives nullopt for a text it cannot read; nothing else fails.
// Limits: a rate of at most kMaxSendRate per unit; a slowed-down pace never falls below one
// message per kSlowestInterval.
// Threads: TokenBucket and SendPace are thread-safe (one lock, held for a few arithmetic steps,
// never while waiting): the caller waits for the moment it is given, outside the lock, so Stop can
// wake it. The free functions are pure.
// Standard: RFC 3463 enhanced status codes (class 4, subject 7: security or policy status).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

enum class RateUnit { Minute, Hour };

inline constexpr unsigned kMaxSendRate = 1000000;

struct SendRate {
    unsigned count = 0;  // 0: no limit
    RateUnit unit = RateUnit::Minute;

    bool limited() const { return count > 0; }
    double perSecond() const;
    bool operator==(const SendRate&) const = default;
};

// "N/min" or "N/h" (also "N/m", "N/minute", "N/hour"; blanks around the parts allowed); "0" alone
// is no limit. nullopt for anything else, or a count over kMaxSendRate.
std::optional<SendRate> parseSendRate(std::string_view text);
// "300/min", "1000/h"; "0" for no limit. parseSendRate() reads it back.
std::string sendRateText(const SendRate& rate);

// A token bucket: `capacity` messages may go at once after a quiet spell, then one every
// 1/rate seconds. Each take() spends a token at once and hands back the moment its holder may
// send, so threads that ask together are spaced out in the order they asked.
class TokenBucket {
  public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // `now` unset reads the steady clock. A rate of 0 or less means no limit.
    TokenBucket(double perSecond, double capacity, Now now = {});

    Clock::time_point take();
    void setRate(double perSecond);
    double rate() const;
    // Nobody goes before `until` (a relay said to come back later).
    void holdUntil(Clock::time_point until);
    Clock::time_point now() const { return now_ ? now_() : Clock::now(); }

  private:
    Clock::duration interval() const;

    mutable std::mutex lock_;
    double perSecond_;
    double capacity_;
    Now now_;
    // The moment the bucket would be full again if nothing more were taken (GCRA's "theoretical
    // arrival time").
    std::optional<Clock::time_point> full_;
};

inline constexpr std::chrono::seconds kDefaultRateBackoff{60};
// One message per ten minutes: halving stops there.
inline constexpr std::chrono::minutes kSlowestInterval{10};

// The run's pace: the bucket at the chosen rate and what a rate refusal does to it.
class SendPace {
  public:
    SendPace(SendRate rate, std::chrono::milliseconds backoff = kDefaultRateBackoff,
             TokenBucket::Now now = {});

    bool limited() const { return limited_; }
    // The moment the caller may send its next message (now when there is no limit), and the
    // number of slow-downs so far. A caller whose wait saw another slow-down asks again: its
    // moment was given out at the pace before.
    struct Slot {
        TokenBucket::Clock::time_point go;
        unsigned slowDowns = 0;
    };
    Slot next();
    unsigned slowDowns() const;
    // A relay refused a message because of its rate: the pace is halved and nobody sends until the
    // back-off has passed. Refusals that arrive while that back-off holds (the other threads met
    // the same quota) change nothing more. True when this call slowed the pace down.
    bool slowDown();
    double perMinute() const;

  private:
    bool limited_;
    std::chrono::milliseconds backoff_;
    TokenBucket bucket_;
    mutable std::mutex lock_;
    std::optional<TokenBucket::Clock::time_point> holdEnd_;
    unsigned slowDowns_ = 0;
};

// True for a temporary refusal that names a sending rate or quota: a 4xx whose enhanced status is
// 4.7.x, or whose text says to try again later, too many messages, a rate or a quota.
bool isRateRefusal(int code, std::string_view replyLine);

// "Pace 300/min, about 2 min left" (or "... about 40 s left", "about 3 h 10 min left"); the pace
// alone when nothing is left to send.
std::string paceStatusText(double perMinute, std::size_t remaining);

}  // namespace qm
