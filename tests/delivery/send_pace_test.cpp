// The sending pace: the rate setting's spelling, the shared token bucket and the slow-down rule on
// a fake clock, which refusals name a rate, the status line; and a whole paced run against a
// strict relay that enforces a quota with "421 4.7.0" after every 50 messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/send_log_buffer.h"
#include "delivery/send_pace.h"
#include "support/quota_relay.h"
#include "support/run_support.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = TokenBucket::Clock;
using test::QuotaRelay;

struct FakeClock {
    Clock::time_point t{};
    TokenBucket::Now fn() {
        return [this] { return t; };
    }
};

long msAfter(Clock::time_point start, Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t - start).count());
}

TEST(SendPaceTest, RateSettingReadsBackWhatItWrites) {
    struct Case {
        const char* text;
        std::optional<SendRate> want;
    };
    const Case cases[] = {
        {"300/min", SendRate{300, RateUnit::Minute}},
        {" 1000 / h ", SendRate{1000, RateUnit::Hour}},
        {"20/hour", SendRate{20, RateUnit::Hour}},
        {"5/M", SendRate{5, RateUnit::Minute}},
        {"0", SendRate{}},
        {"0/min", SendRate{0, RateUnit::Minute}},
        {"300", std::nullopt},  // a count without its unit
        {"300/day", std::nullopt},
        {"-1/min", std::nullopt},
        {"1000001/min", std::nullopt},
        {"99999999999999999999/min", std::nullopt},
        {"", std::nullopt},
        {"/min", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto got = parseSendRate(c.text);
        ASSERT_EQ(got.has_value(), c.want.has_value());
        if (!got) continue;
        EXPECT_EQ(got->count, c.want->count);
        if (got->limited()) {
            EXPECT_EQ(got->unit, c.want->unit);
            EXPECT_EQ(parseSendRate(sendRateText(*got)), got);
        }
    }
    EXPECT_EQ(sendRateText(SendRate{}), "0");
}

// Several takes at given moments, each giving the moment its holder may send.
TEST(SendPaceTest, TokenBucketSpacesTakesOnAFakeClock) {
    struct Take {
        long atMs;    // the clock when take() is called
        long wantMs;  // the moment it gives
    };
    struct Case {
        const char* name;
        double perSecond;
        double capacity;
        std::vector<Take> takes;
    };
    const Case cases[] = {
        {"one token: evenly spaced, asked together", 10, 1, {{0, 0}, {0, 100}, {0, 200}, {0, 300}}},
        {"one token: a caller after the slot goes at once",
         10,
         1,
         {{0, 0}, {150, 150}, {160, 250}}},
        {"a quiet spell banks no more than the capacity",
         10,
         3,
         {{0, 0},
          {0, 0},
          {0, 0},
          {0, 100},
          {5000, 5000},
          {5000, 5000},
          {5000, 5000},
          {5000, 5100}}},
        {"per hour: one every 12 s at 300/h", 300.0 / 3600, 1, {{0, 0}, {0, 12000}, {1000, 24000}}},
        {"no limit", 0, 1, {{0, 0}, {0, 0}, {7, 7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        const Clock::time_point start = clock.t = Clock::time_point{} + 1h;
        TokenBucket bucket(c.perSecond, c.capacity, clock.fn());
        for (const auto& take : c.takes) {
            clock.t = start + std::chrono::milliseconds(take.atMs);
            EXPECT_EQ(msAfter(start, bucket.take()), take.wantMs) << "take at " << take.atMs;
        }
    }
}

TEST(SendPaceTest, RateRefusalHalvesThePaceOnceAndHoldsEveryone) {
    FakeClock clock;
    const Clock::time_point start = clock.t = Clock::time_point{} + 1h;
    SendPace pace(SendRate{600, RateUnit::Minute}, 2s, clock.fn());  // one per 100 ms
    EXPECT_DOUBLE_EQ(pace.perMinute(), 600);
    EXPECT_EQ(msAfter(start, pace.next().go), 0);
    EXPECT_EQ(msAfter(start, pace.next().go), 100);

    clock.t = start + 150ms;
    EXPECT_TRUE(pace.slowDown());
    EXPECT_DOUBLE_EQ(pace.perMinute(), 300);
    // The other threads met the same quota while the back-off holds: no second halving.
    clock.t = start + 1s;
    EXPECT_FALSE(pace.slowDown());
    EXPECT_DOUBLE_EQ(pace.perMinute(), 300);
    EXPECT_EQ(pace.slowDowns(), 1u);
    // Nobody goes before the back-off ends, then one per 200 ms.
    SendPace::Slot a = pace.next(), b = pace.next();
    EXPECT_EQ(msAfter(start, a.go), 2150);
    EXPECT_EQ(msAfter(start, b.go), 2350);
    EXPECT_EQ(a.slowDowns, 1u);

    // After the hold, a new refusal halves again; the pace never falls below its floor.
    clock.t = start + 3s;
    EXPECT_TRUE(pace.slowDown());
    EXPECT_DOUBLE_EQ(pace.perMinute(), 150);
    for (int i = 0; i < 40; ++i) {
        clock.t += 10s;
        pace.slowDown();
    }
    EXPECT_DOUBLE_EQ(pace.perMinute(),
                     60.0 / std::chrono::duration<double>(kSlowestInterval).count());

    SendPace none(SendRate{}, 2s, clock.fn());
    EXPECT_FALSE(none.limited());
    EXPECT_FALSE(none.slowDown());
    EXPECT_EQ(none.next().go, clock.t);
}

TEST(SendPaceTest, RefusalsThatNameARate) {
    struct Case {
        int code;
        const char* line;
        bool want;
    };
    const Case cases[] = {
        {421, "421 4.7.0 Too many messages, slow down", true},
        {450, "450 4.7.1 Client host rejected: rate limit exceeded", true},
        {421, "421 4.7.28 Our system has detected an unusual rate", true},
        {452, "452 4.3.2 Too many recipients received this hour", true},
        {451, "451 Try again later", true},
        {450, "450 4.2.1 Mailbox quota reached for today", true},
        {421, "421 4.3.2 Service shutting down", false},
        {450, "450 4.2.0 <a@x.test>: Recipient address rejected: Greylisted", false},
        {550, "550 5.7.1 Sending rate exceeded", false},  // not temporary: nothing to wait for
        {250, "250 2.0.0 Ok: queued", false},
        {421, "421", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isRateRefusal(c.code, c.line), c.want) << c.line;
}

TEST(SendPaceTest, StatusLineShowsPaceAndTimeLeft) {
    struct Case {
        double perMinute;
        std::size_t remaining;
        const char* want;
    };
    const Case cases[] = {
        {300, 600, "Pace 300/min, about 2 min left"},
        {300, 100, "Pace 300/min, about 20 s left"},
        {300, 0, "Pace 300/min"},
        {0.5, 10, "Pace 30/h, about 20 min left"},
        {10, 1900, "Pace 10/min, about 3 h 10 min left"},
        {150, 1, "Pace 150/min, about 1 s left"},
    };
    for (const auto& c : cases) EXPECT_EQ(paceStatusText(c.perMinute, c.remaining), c.want);
}

class PaceWatch : public test::RunEndings {
  public:
    void paceChanged(double perMinute) override {
        std::lock_guard g(m_);
        paces.push_back(perMinute);
    }
    std::vector<double> paces;
};

TEST(SendPaceTest, QuotaRefusalsSlowTheRunAndEveryRecipientGoesOnce) {
    struct Case {
        const char* name;
        SendRate rate;
        bool wantAllSent;
    };
    const Case cases[] = {
        // 100 a second; each "421 4.7.0" halves it and holds every thread.
        {"paced run slows down", SendRate{6000, RateUnit::Minute}, true},
        // Without a pace the refusal is the recipient's result, as before.
        {"unpaced run records the refusals", SendRate{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        Paths paths{dir.file("qm")};
        ASSERT_TRUE(paths.ensureFolders());
        QuotaRelay relay(50, 100ms);
        std::vector<std::string> typed;
        for (int i = 0; i < 120; ++i) typed.push_back("r" + std::to_string(i) + "@x.test");
        RunRequest r = test::plainRunRequest(relay.port(), typed);
        r.delivery.threadCount = 4;
        r.delivery.rate = c.rate;
        r.rateBackoff = 300ms;
        r.timeouts = SmtpTimeouts::uniform(test::kPatient);
        SendLogBuffer log;
        PaceWatch watch;
        {
            CampaignRun run(paths, log, watch);
            ASSERT_TRUE(run.start(std::move(r)));
            run.wait();
        }
        relay.stop();
        EXPECT_EQ(relay.protocolErrors, "");
        EXPECT_EQ(watch.endings, std::vector<std::string>{"finished"});
        EXPECT_GE(relay.refusals, 2);
        auto rows = readReportRows(paths, kGeneralGroup);
        EXPECT_EQ(rows.size(), typed.size());  // each recipient recorded once
        std::map<std::string, int> copies;
        for (const auto& a : relay.delivered) ++copies[a];
        for (const auto& [address, n] : copies) EXPECT_EQ(n, 1) << address;
        if (c.wantAllSent) {
            EXPECT_EQ(watch.summary.sent, typed.size());
            EXPECT_EQ(copies.size(), typed.size());
            ASSERT_GE(watch.paces.size(), 3u);
            EXPECT_DOUBLE_EQ(watch.paces[0], 6000);
            EXPECT_DOUBLE_EQ(watch.paces[1], 3000);
            EXPECT_DOUBLE_EQ(watch.paces[2], 1500);
        } else {
            EXPECT_GT(watch.summary.failed, 0u);
            EXPECT_EQ(watch.summary.sent + watch.summary.failed, typed.size());
            EXPECT_TRUE(watch.paces.empty());
        }
        for (const auto& row : rows) {
            if (row.status == kStatusSent) continue;
            EXPECT_NE(row.status.find("421"), std::string::npos) << row.status;
        }
    }
}

}  // namespace
}  // namespace qm
