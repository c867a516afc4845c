#include <gtest/gtest.h>

#include <thread>

#include "delivery/send_log_buffer.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(SendLogBufferTest, AppendCutsAtFirstCrLfAndWriteUsesCrLf) {
    test::TempDir dir;
    SendLogBuffer log;
    log.append(3, "250 ok\r\n250 more\r\n");
    log.append(3, "");
    log.append(16, "ignored");
    log.append(-1, "ignored");
    log.append(0, "no line end");
    log.beginRecipient(1, "a@x.test");
    EXPECT_EQ(log.slotText(3), "250 ok\n");
    ASSERT_TRUE(log.write(dir.file("SendLog.txt")));
    EXPECT_EQ(dir.read("SendLog.txt"),
              "no line end\r\n"
              "****************************************\r\n\r\nRecipient : a@x.test\r\n\r\n"
              "250 ok\r\n\r\n");
    EXPECT_EQ(log.slotText(3), "");
    // A second write appends; an empty buffer adds nothing.
    log.append(2, "x\n");
    ASSERT_TRUE(log.write(dir.file("SendLog.txt")));
    ASSERT_TRUE(log.write(dir.file("SendLog.txt")));
    EXPECT_EQ(dir.read("SendLog.txt").substr(dir.read("SendLog.txt").size() - 5), "x\r\n\r\n");
}

TEST(SendLogBufferTest, FailedWriteKeepsTheText) {
    test::TempDir dir;
    SendLogBuffer log;
    log.append(1, "kept\n");
    EXPECT_FALSE(log.write(dir.file("no/such/folder/SendLog.txt")));
    EXPECT_EQ(log.slotText(1), "kept\n");
}

// Blocks of one recipient: the mark, then `lines` reply lines naming the recipient.
std::string block(int slot, int n) {
    return std::string(SendLogBuffer::kRecipientMark) + "r" + std::to_string(slot) + "-" +
           std::to_string(n) + "@x.test\n";
}

TEST(SendLogBufferTest, SpillsWholeBlocksFromManyThreads) {
    test::TempDir dir;
    const std::string path = dir.file("SendLog.txt");
    SendLogBuffer log;
    log.setSpill(path, 2048);
    constexpr int kPerThread = 400;
    std::vector<std::thread> threads;
    std::size_t largest[SendLogBuffer::kSlots] = {};
    for (int slot = 1; slot < SendLogBuffer::kSlots; ++slot) {
        threads.emplace_back([&, slot] {
            for (int n = 0; n < kPerThread; ++n) {
                log.append(slot, block(slot, n));
                for (int k = 0; k < 5; ++k)
                    log.append(slot, "250 reply " + std::to_string(n) + "\r\n");
                largest[slot] = std::max(largest[slot], log.slotText(slot).size());
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int slot = 1; slot < SendLogBuffer::kSlots; ++slot)
        EXPECT_LT(largest[slot], 2048u + 400u) << "slot " << slot;
    ASSERT_TRUE(log.write(path));

    // Every block is in the file once, whole: its mark line followed by its own five replies.
    std::string file = dir.read("SendLog.txt");
    std::size_t blocks = 0;
    for (std::size_t pos = file.find("Recipient : "); pos != std::string::npos;
         pos = file.find("Recipient : ", pos + 1)) {
        ++blocks;
        std::size_t dash = file.find('-', pos);
        std::size_t at = file.find('@', dash);
        std::string n = file.substr(dash + 1, at - dash - 1);
        std::size_t eol = file.find("\r\n", pos);
        std::string replies = file.substr(eol + 2, 5 * (12 + n.size()));
        std::string want;
        for (int k = 0; k < 5; ++k) want += "250 reply " + n + "\r\n";
        ASSERT_EQ(replies, want) << "block at " << pos;
    }
    EXPECT_EQ(blocks, static_cast<std::size_t>(kPerThread * (SendLogBuffer::kSlots - 1)));
}

}  // namespace
}  // namespace qm
