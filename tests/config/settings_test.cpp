#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(Settings, MissingStoreReadsAsDefaults) {
    test::TempDir dir;
    SettingsStore store(dir.file("none/settings.ini"));
    struct Case {
        SettingKey key;
        std::string want;
    } cases[] = {
        {keys::kSmtpServer, ""},      {keys::kSmtpPort, "25"},       {keys::kSmtpAuth, "n"},
        {keys::kShowReminder, "y"},   {keys::kAutoUnsubscribe, "n"}, {keys::kSmtpSecurity, "none"},
        {keys::kSmtpVerifyCert, "y"}, {keys::kMxStartTls, "y"},      {keys::kAppPath, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(store.read(c.key), c.want) << c.key.subkey << "\\" << c.key.value;
    EXPECT_TRUE(store.readFlag(keys::kShowReminder));
    EXPECT_FALSE(store.readFlag(keys::kAutoUnsubscribe));
}

TEST(Settings, WriteThenReadEveryByteAndEmptyMeansDefault) {
    test::TempDir dir;
    SettingsStore store(dir.file("cfg/settings.ini"));
    std::string tricky = "p\\a=ss\r\nw[o]rd\x01\xE9";
    ASSERT_TRUE(store.write(keys::kSmtpPassword, tricky));
    ASSERT_TRUE(store.write(keys::kSmtpPort, ""));
    ASSERT_TRUE(store.writeFlag(keys::kShowReminder, false));
    ASSERT_TRUE(store.write("Info\\Test", "Test", "y"));
    EXPECT_EQ(store.read(keys::kSmtpPassword), tricky);
    EXPECT_EQ(store.read(keys::kSmtpPort), "25");
    EXPECT_FALSE(store.readFlag(keys::kShowReminder));
    EXPECT_TRUE(store.readFlag(keys::kAutoUnsubscribe));

    struct stat st {};
    ASSERT_EQ(::stat(store.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the store holds passwords";
}

TEST(Settings, ValuesLongerThanTheReadBufferAreCut) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    ASSERT_TRUE(store.write(keys::kSmtpServer, std::string(150, 'a')));
    EXPECT_EQ(store.read(keys::kSmtpServer).size(), 99u);
    ASSERT_TRUE(store.write(keys::kShowReminder, "yes"));
    EXPECT_EQ(store.read(keys::kShowReminder), "y");
}

TEST(Settings, NoCacheASecondStoreObjectSeesWritesAtOnce) {
    test::TempDir dir;
    SettingsStore a(dir.file("s.ini")), b(dir.file("s.ini"));
    ASSERT_TRUE(a.write(keys::kSmtpServer, "relay.example.test"));
    EXPECT_EQ(b.read(keys::kSmtpServer), "relay.example.test");
    ASSERT_TRUE(b.write(keys::kSmtpServer, "other.example.test"));
    EXPECT_EQ(a.read(keys::kSmtpServer), "other.example.test");
}

TEST(Settings, GarbageFileReadsAsDefaultsAndIsRepairedByAWrite) {
    test::TempDir dir;
    dir.write("s.ini", std::string("\0\xff[\n=x\nServer=orphan\n[SmtpServer\nPort", 36));
    SettingsStore store(dir.file("s.ini"));
    EXPECT_EQ(store.read(keys::kSmtpServer), "");
    EXPECT_EQ(store.read(keys::kSmtpPort), "25");
    ASSERT_TRUE(store.write(keys::kSmtpPort, "2525"));
    EXPECT_EQ(store.read(keys::kSmtpPort), "2525");
}

TEST(Settings, ConcurrentWritersLoseNothing) {
    test::TempDir dir;
    SettingsStore store(dir.file("s.ini"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i)
                store.write("T" + std::to_string(t), "v" + std::to_string(i), "x");
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(store.read("T" + std::to_string(t), "v" + std::to_string(i), 10, ""), "x");
}

TEST(Settings, RejectsNamesTheFileCannotHold) {
    test::TempDir dir;
    SettingsStore store(dir.file("s.ini"));
    EXPECT_FALSE(store.write("Smtp]Server", "Server", "x"));
    EXPECT_FALSE(store.write("SmtpServer", "Ser=ver", "x"));
    EXPECT_FALSE(store.write("SmtpServer", "Ser\nver", "x"));
    EXPECT_FALSE(store.write("", "Server", "x"));
}

}  // namespace
}  // namespace qm
