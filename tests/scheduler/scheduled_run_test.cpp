// A scheduled run keeps to the sending pace: against a relay that turns every MAIL away with
// "421 4.7.0" for 300 ms after each 10 messages, a paced run slows down and every recipient is
// sent once; without a pace the refusals are the recipients' results, as before.
#include <gtest/gtest.h>

#include <map>

#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/send_log_buffer.h"
#include "scheduler/outbox.h"
#include "scheduler/scheduled_run.h"
#include "support/quota_relay.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(ScheduledRunTest, KeepsToThePaceThroughQuotaRefusals) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    OutboxRun stored;
    stored.senderName = "Ann";
    stored.senderAddress = "ann@example.test";
    for (int i = 0; i < 30; ++i) stored.recipients += "r" + std::to_string(i) + "@x.test;";
    stored.subject = "Stored";
    stored.body = "Hello [**EMAIL**]";
    const std::string path = writeOutbox(paths, stored, 1700000000);
    ASSERT_NE(path, kOutboxError);

    const struct {
        const char* name;
        SendRate rate;
    } cases[] = {{"paced", SendRate{6000, RateUnit::Minute}}, {"unpaced", SendRate{}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::QuotaRelay relay(10, 300ms);
        SendLogBuffer log;
        std::map<std::string, std::string> results;
        ScheduledRun run(log);
        ScheduledRunRequest r;
        r.outboxPath = path;
        r.target.settings.mxMode = false;
        r.target.settings.server = "127.0.0.1";
        r.target.settings.port = static_cast<unsigned>(relay.port());
        r.target.settings.rate = c.rate;
        r.target.timeouts = SmtpTimeouts::uniform(test::kPatient);
        r.pause = 0ms;
        r.rateBackoff = 400ms;
        r.record = [&](std::string_view, std::string_view status, const std::string& a) {
            EXPECT_TRUE(results.emplace(a, std::string(status)).second) << a << " recorded twice";
        };
        ASSERT_TRUE(run.start(std::move(r)));
        run.wait();
        relay.stop();
        EXPECT_EQ(relay.protocolErrors, "");
        EXPECT_GE(relay.refusals, 1);
        EXPECT_EQ(results.size(), 30u);
        std::map<std::string, int> copies;
        for (const auto& a : relay.delivered) ++copies[a];
        for (const auto& [address, n] : copies) EXPECT_EQ(n, 1) << address;
        const bool slowed = log.slotText(0).find("Sending too fast for the server: slowing down") !=
                            std::string::npos;
        if (c.rate.limited()) {
            EXPECT_EQ(copies.size(), 30u);
            for (const auto& [address, status] : results) EXPECT_EQ(status, kStatusSent) << address;
            EXPECT_TRUE(slowed);
        } else {
            EXPECT_LT(copies.size(), 30u);
            EXPECT_FALSE(slowed);
        }
    }
}

}  // namespace
}  // namespace qm
