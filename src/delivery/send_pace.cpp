#include "delivery/send_pace.h"

#include <algorithm>
#include <cmath>

#include "common/text.h"

namespace qm {

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<unsigned> parseCount(std::string_view s) {
    if (s.empty() || s.size() > 7) return std::nullopt;
    unsigned value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > kMaxSendRate) return std::nullopt;
    return value;
}

bool containsNoCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < word.size() && same; ++k) {
            char a = text[i + k];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            same = a == word[k];
        }
        if (same) return true;
    }
    return false;
}

std::string durationText(double seconds) {
    long s = std::lround(std::ceil(seconds));
    if (s < 60) return std::to_string(s) + " s";
    long minutes = (s + 59) / 60;
    if (minutes < 60) return std::to_string(minutes) + " min";
    long hours = minutes / 60;
    minutes %= 60;
    return std::to_string(hours) + " h" + (minutes ? " " + std::to_string(minutes) + " min" : "");
}

}  // namespace

double SendRate::perSecond() const {
    return count / (unit == RateUnit::Hour ? 3600.0 : 60.0);
}

std::optional<SendRate> parseSendRate(std::string_view text) {
    text = trimBlanks(text);
    std::size_t slash = text.find('/');
    auto count = parseCount(trimBlanks(text.substr(0, slash)));
    if (!count) return std::nullopt;
    if (slash == std::string_view::npos) {
        if (*count != 0) return std::nullopt;  // a count without its unit says nothing
        return SendRate{};
    }
    std::string unit = lowerAscii(trimBlanks(text.substr(slash + 1)));
    SendRate rate{*count, RateUnit::Minute};
    if (unit == "h" || unit == "hour")
        rate.unit = RateUnit::Hour;
    else if (unit != "min" && unit != "m" && unit != "minute")
        return std::nullopt;
    return rate;
}

std::string sendRateText(const SendRate& rate) {
    if (!rate.limited()) return "0";
    return std::to_string(rate.count) + (rate.unit == RateUnit::Hour ? "/h" : "/min");
}

TokenBucket::TokenBucket(double perSecond, double capacity, Now now)
    : perSecond_(perSecond), capacity_(std::max(1.0, capacity)), now_(std::move(now)) {}

TokenBucket::Clock::duration TokenBucket::interval() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / perSecond_));
}

TokenBucket::Clock::time_point TokenBucket::take() {
    const auto t = now();
    std::lock_guard guard(lock_);
    if (perSecond_ <= 0) return t;
    const auto step = interval();
    // The bucket never holds more than `capacity` tokens: a long quiet spell does not bank more.
    auto full = full_ && *full_ > t ? *full_ : t;
    auto go = full - std::chrono::duration_cast<Clock::duration>(step * (capacity_ - 1));
    if (go < t) go = t;
    full_ = full + step;
    return go;
}

void TokenBucket::setRate(double perSecond) {
    std::lock_guard guard(lock_);
    perSecond_ = perSecond;
}

double TokenBucket::rate() const {
    std::lock_guard guard(lock_);
    return perSecond_;
}

void TokenBucket::holdUntil(Clock::time_point until) {
    std::lock_guard guard(lock_);
    if (perSecond_ <= 0) return;
    // The first token after the hold goes at `until`, and the bucket is empty then.
    const auto step = interval();
    auto full = until + std::chrono::duration_cast<Clock::duration>(step * (capacity_ - 1));
    if (!full_ || *full_ < full) full_ = full;
}

SendPace::SendPace(SendRate rate, std::chrono::milliseconds backoff, TokenBucket::Now now)
    : limited_(rate.limited()),
      backoff_(backoff),
      // One token: the relay sees messages spread evenly, never a burst of 15 at the start.
      bucket_(rate.limited() ? rate.perSecond() : 0.0, 1.0, std::move(now)) {}

SendPace::Slot SendPace::next() {
    if (!limited_) return {bucket_.now(), 0};
    unsigned seen = slowDowns();
    return {bucket_.take(), seen};
}

unsigned SendPace::slowDowns() const {
    std::lock_guard guard(lock_);
    return slowDowns_;
}

bool SendPace::slowDown() {
    if (!limited_) return false;
    const auto t = bucket_.now();
    std::lock_guard guard(lock_);
    if (holdEnd_ && t < *holdEnd_) return false;
    const double slowest = 1.0 / std::chrono::duration<double>(kSlowestInterval).count();
    bucket_.setRate(std::max(bucket_.rate() / 2, slowest));
    holdEnd_ = t + backoff_;
    ++slowDowns_;
    bucket_.holdUntil(*holdEnd_);
    return true;
}

double SendPace::perMinute() const {
    return limited_ ? bucket_.rate() * 60.0 : 0.0;
}

bool isRateRefusal(int code, std::string_view line) {
    if (code < 400 || code >= 500) return false;
    // The text after the code: "421 4.7.0 Try again later" -> "4.7.0 Try again later".
    std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view{};
    if (text.size() >= 4 && text[0] == '4' && text[1] == '.' && text[2] == '7' && text[3] == '.')
        return true;
    static constexpr std::string_view kWords[] = {"try again later", "try later",     "too many",
                                                  "rate limit",      "rate exceeded", "quota",
                                                  "slow down"};
    for (auto word : kWords)
        if (containsNoCase(text, word)) return true;
    return false;
}

std::string paceStatusText(double perMinute, std::size_t remaining) {
    std::string pace = perMinute >= 1.0
                           ? std::to_string(std::lround(perMinute)) + "/min"
                           : std::to_string(std::max(1L, std::lround(perMinute * 60))) + "/h";
    std::string text = "Pace " + pace;
    if (remaining > 0 && perMinute > 0)
        text += ", about " + durationText(remaining * 60.0 / perMinute) + " left";
    return text;
}

}  // namespace qm
