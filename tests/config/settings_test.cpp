#include "config/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
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

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Whatever a screen or the command line accepts reads back whole; a longer value is refused at the
// write, never stored to come back cut.
TEST(Settings, EveryAcceptedValueReadsBackWhole) {
    test::TempDir dir;
    SettingsStore store(dir.file("s.ini"));
    struct Case {
        std::string name;
        SettingKey key;
        std::string text;
    } cases[] = {
        // The "SMTP Settings" screen: server 100 characters, user name and password 99; the screen
        // stores UTF-8, so a character may take three bytes.
        {"server name of 100 characters", keys::kSmtpServer, std::string(100, 's')},
        {"server name of 100 three-byte characters", keys::kSmtpServer, repeat("\u20ac", 100)},
        {"user name of 99 three-byte characters", keys::kSmtpUser, repeat("\u20ac", 99)},
        {"password of 99 three-byte characters", keys::kSmtpPassword, repeat("\u20ac", 99)},
        {"program folder near PATH_MAX", keys::kAppPath, "/" + std::string(4094, 'p')},
        {"a pair of no known key",
         {"Other", "Value", kDefaultReadBuffer, ""},
         std::string(kDefaultReadBuffer - 1, 'o')},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Every key of the table at its capacity, as the command line may write it.
    for (const auto& key : keys::kAll)
        all.push_back({std::string(key.subkey) + "\\" + std::string(key.value) + " at capacity",
                       key, std::string(key.capacity(), 'c')});
    for (const auto& c : all) {
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(store.write(c.key.subkey, c.key.value, c.text, &error)) << error;
        EXPECT_EQ(store.read(c.key), c.text) << "got " << store.read(c.key).size() << " bytes";
        if (c.text.size() < c.key.capacity()) continue;
        EXPECT_FALSE(store.write(c.key.subkey, c.key.value, c.text + "x", &error));
        EXPECT_NE(error.find("too long"), std::string::npos) << error;
        EXPECT_EQ(store.read(c.key), c.text) << "a refused write changes nothing";
    }
    EXPECT_FALSE(store.write(keys::kShowReminder, "yes")) << "a flag is one letter";
}

// A value longer than its key keeps (the file edited by hand) is cut to fit, never overruns.
TEST(Settings, OverLongStoredValueReadsCut) {
    test::TempDir dir;
    dir.write("s.ini", "[SmtpServer]\nServer=" + std::string(5000, 'a') + "\n[Test]\nTest=yes\n");
    SettingsStore store(dir.file("s.ini"));
    EXPECT_EQ(store.read(keys::kSmtpServer), std::string(keys::kSmtpServer.capacity(), 'a'));
    EXPECT_EQ(store.read(keys::kShowReminder), "y");
    EXPECT_EQ(store.read("SmtpServer", "Server", 0, "").size(), 5000u) << "no buffer, no cut";
}

// A write rewrites the whole file from what it read; when the file is there but cannot be read,
// the write must not go on and replace every setting with the one value written.
TEST(Settings, WriteAfterAFailedReadChangesNothing) {
    const std::string settings = "[SmtpServer]\nServer=relay.example.test\nPassword=secret\n";
    struct Case {
        const char* name;
        std::function<void(const test::TempDir& dir, const std::string& path)> make;
    } cases[] = {
        {"larger than the size limit",
         [&](const test::TempDir& dir, const std::string&) {
             dir.write("s.ini", settings + "#" + std::string(1 << 20, 'x') + "\n");
         }},
        {"a folder in its place",
         [](const test::TempDir&, const std::string& path) { ::mkdir(path.c_str(), 0700); }},
        // Read naively, a FIFO would block every read and write until someone opened it.
        {"a FIFO in its place",
         [](const test::TempDir&, const std::string& path) { ::mkfifo(path.c_str(), 0600); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.file("s.ini");
        c.make(dir, path);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        const bool regular = S_ISREG(before.st_mode);
        const std::string contentBefore = regular ? dir.read("s.ini") : "";

        SettingsStore store(path);
        EXPECT_EQ(store.read(keys::kSmtpServer), "") << "reads fall back to the defaults";
        std::string error;
        EXPECT_FALSE(store.write(keys::kSmtpPort, "2525", &error));
        EXPECT_NE(error.find("cannot read the settings file " + path), std::string::npos) << error;
        EXPECT_FALSE(store.createSubkey("Info", &error));

        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (regular) {
            EXPECT_EQ(dir.read("s.ini"), contentBefore);
        }
    }
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

// A rewrite carries every other line over: a hand-written name that opens with "[" and a value
// that ends in "]" must not come back as a subkey line and lose the value.
TEST(Settings, HandWrittenLinesSurviveARewrite) {
    test::TempDir dir;
    dir.write("s.ini", "[Info]\n[Note=see x\\x5D\nID=a\\qb\n");
    SettingsStore store(dir.file("s.ini"));
    ASSERT_TRUE(store.write(keys::kSmtpPort, "2525"));
    EXPECT_EQ(store.read("Info", "[Note", 200, ""), "see x]");
    EXPECT_EQ(store.read("Info", "ID", 200, ""), "a\\qb");
    EXPECT_FALSE(store.hasSubkey("Note=see x"));
    const SettingsDocument doc = parseSettingsText(dir.read("s.ini"));
    EXPECT_EQ(parseSettingsText(formatSettingsText(doc)), doc);
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
