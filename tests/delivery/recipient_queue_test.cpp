#include "delivery/recipient_queue.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/temp_dir.h"

namespace qm {
namespace {

class RecipientQueueTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }
    void group(const std::string& name, const std::string& content) {
        dir.write("qm/GroupRecipients/_" + name + ".sbz", content);
    }
    void unsubscribers(const std::string& name, const std::string& content) {
        dir.write("qm/GroupUnsubscribers/_" + name + ".sbz", content);
    }
    std::vector<std::string> drain(RecipientQueue& q) {
        std::vector<std::string> out;
        while (auto m = q.nextMember(running)) out.push_back(m->group + ":" + m->recipient.email);
        return out;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
    std::atomic<bool> running{true};
};

TEST_F(RecipientQueueTest, TypedThenGroupsInOrderOnceEachLastLineWins) {
    group(
        "A",
        "a1@x.com,First,,,,,,,,,,,,E\r\nA1@x.com,,,,,,,,,,,,,E\r\na1@x.com,Last,,,,,,,,,,,,E\r\n");
    group(
        "B",
        "b1@x.com,,,,,,,,,,,,,E\r\na1@x.com,,,,,,,,,,,,,E\nno-final-line-end@x.com,,,,,,,,,,,,,E");
    std::vector<std::string> started;
    RecipientQueue q(paths, {"t1@x.com", "t2@x.com"}, {"A", "B"}, false,
                     {.groupStarted = [&](const std::string& g, size_t n) {
                         started.push_back(g + "=" + std::to_string(n));
                     }});
    EXPECT_EQ(q.nextTyped(), "t1@x.com");
    EXPECT_EQ(q.nextTyped(), "t2@x.com");
    EXPECT_EQ(q.nextTyped(), std::nullopt);

    auto first = q.nextMember(running);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->recipient.email, "A1@x.com");  // letter case makes another address
    auto second = q.nextMember(running);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->recipient.name, "Last");
    EXPECT_EQ(drain(q),
              (std::vector<std::string>{"B:b1@x.com", "B:a1@x.com", "B:no-final-line-end@x.com"}));
    EXPECT_EQ(started, (std::vector<std::string>{"A=2", "B=3"}));
}

TEST_F(RecipientQueueTest, SkipsDisabledUnsubscribedAndListedMembers) {
    group("G",
          "e@x.com,,,,,,,,,,,,,E\r\nd@x.com,,,,,,,,,,,,,D\r\nu@x.com,,,,,,,,,,,,,U\r\n"
          "ob@x.com,,,,,,,,,,,,,E\r\nGLOBAL@x.com,,,,,,,,,,,,,E\r\nlocal@x.com,,,,,,,,,,,,,E\r\n");
    unsubscribers("1", "bob@x.com\r\nglobal@X.com\r\n");
    unsubscribers("G", "  local@x.com \r\n");
    for (bool autoUnsubscribe : {false, true}) {
        std::vector<std::string> skipped;
        RecipientQueue q(paths, {}, {"G"}, autoUnsubscribe,
                         {.skipped = [&](const Recipient& r, const std::string&) {
                             skipped.push_back(r.email + "/" + statusLetter(r.status));
                         }});
        if (autoUnsubscribe) {
            // "ob@x.com" is inside "bob@x.com" but is not that address: it still gets mail.
            EXPECT_EQ(drain(q), (std::vector<std::string>{"G:e@x.com", "G:ob@x.com"}));
            EXPECT_EQ(skipped, (std::vector<std::string>{"d@x.com/D", "u@x.com/U", "GLOBAL@x.com/U",
                                                         "local@x.com/U"}));
        } else {
            EXPECT_EQ(drain(q), (std::vector<std::string>{"G:e@x.com", "G:ob@x.com",
                                                          "G:GLOBAL@x.com", "G:local@x.com"}));
            EXPECT_EQ(skipped, (std::vector<std::string>{"d@x.com/D", "u@x.com/U"}));
        }
        EXPECT_EQ(q.skippedCount(), skipped.size());
    }
}

TEST_F(RecipientQueueTest, UnreadableGroupIsReportedAndLaterGroupsStillSent) {
    group("Last", "z@x.com,,,,,,,,,,,,,E\r\n");
    group("Empty", "");
    std::vector<std::string> unavailable;
    RecipientQueue q(paths, {}, {"Missing", "Empty", "Last"}, false,
                     {.unavailable = [&](const std::string& g, const std::string& text) {
                         unavailable.push_back(g);
                         EXPECT_NE(text.find("Someone seemed to have removed a application file."),
                                   std::string::npos);
                     }});
    EXPECT_EQ(drain(q), std::vector<std::string>{"Last:z@x.com"});
    EXPECT_EQ(unavailable, std::vector<std::string>{"Missing"});
    EXPECT_EQ(q.unavailableGroups(), std::vector<std::string>{"Missing"});
}

TEST_F(RecipientQueueTest, ManyThreadsTakeEveryMemberExactlyOnce) {
    std::string content;
    for (int i = 0; i < 5000; ++i) content += "m" + std::to_string(i) + "@x.com,,,,,,,,,,,,,E\r\n";
    group("G1", content);
    group("G2", content);
    RecipientQueue q(paths, {}, {"G1", "G2"}, false, {});
    std::vector<std::vector<std::string>> taken(15);
    std::vector<std::thread> threads;
    for (int t = 0; t < 15; ++t)
        threads.emplace_back([&, t] {
            while (auto m = q.nextMember(running))
                taken[t].push_back(m->group + m->recipient.email);
        });
    for (auto& th : threads) th.join();
    std::set<std::string> all;
    size_t total = 0;
    for (auto& v : taken) {
        total += v.size();
        all.insert(v.begin(), v.end());
    }
    EXPECT_EQ(total, 10000u);
    EXPECT_EQ(all.size(), 10000u);
}

TEST_F(RecipientQueueTest, StoppedRunLoadsNoFurtherGroup) {
    group("A", "a@x.com,,,,,,,,,,,,,E\r\n");
    group("B", "b@x.com,,,,,,,,,,,,,E\r\n");
    RecipientQueue q(paths, {}, {"A", "B"}, false, {});
    ASSERT_TRUE(q.nextMember(running));
    running = false;
    EXPECT_EQ(q.nextMember(running), std::nullopt);
}

}  // namespace
}  // namespace qm
