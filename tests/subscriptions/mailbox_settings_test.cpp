// The stored mailbox account: scrambled password (old values read back), remember on and off,
// and the change-password checks in their order.
#include <gtest/gtest.h>

#include "config/settings.h"
#include "subscriptions/mailbox_settings.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(PasswordScrambleTest, RoundTripsEveryByteAndVaries) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const std::string samples[] = {"s3cret", "p", "pässwörd", all, std::string(50, '~')};
    for (const auto& p : samples) {
        for (std::uint32_t seed : {1u, 7u, 123456789u}) {
            const std::string stored = scramblePassword(p, seed);
            EXPECT_EQ(unscramblePassword(stored), p) << stored;
            EXPECT_EQ(stored.find_first_not_of("0123456abcdefghijklmnopqrstuvwxyz"),
                      std::string::npos);
        }
    }
    EXPECT_NE(scramblePassword("s3cret", 1), scramblePassword("s3cret", 2));
    EXPECT_EQ(scramblePassword("", 5), "");
    EXPECT_LE(scramblePassword(std::string(150, '\xff'), 3).size(), keys::kInfoPass.capacity());
}

TEST(PasswordScrambleTest, StoredValuesReadBack) {
    struct Case {
        const char* stored;
        const char* plain;
    };
    const Case cases[] = {
        {"166f", "a"},        // 97 = 1*49 + 6*7 + 6, one filler letter
        {"166fb200k", "ab"},  // two filler letters after "a"; 98 = 2*49 = "200"
        {"166fd", "a"},       // a letter pair, no digit after it
        {"", ""},
        {"166", ""},  // digits without a letter end nothing
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unscramblePassword(c.stored), c.plain) << c.stored;
    }
    // 1666666 in base 7 is 235297; modulo 256 that is 33, "!".
    EXPECT_EQ(unscramblePassword("1666666gh"), "!");
}

TEST(MailboxSettingsTest, RememberOnAndOff) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    MailboxSettings s;
    s.user = "unsub@example.org";
    s.password = "pw 1";
    s.server = "pop.example.org";
    s.port = 995;
    s.security = Pop3Security::Tls;
    s.verifyCert = false;
    s.remember = true;
    ASSERT_TRUE(saveMailboxSettings(store, s));
    EXPECT_NE(store.read(keys::kInfoPass), "pw 1");
    MailboxSettings back = readMailboxSettings(store);
    EXPECT_EQ(back.user, s.user);
    EXPECT_EQ(back.password, s.password);
    EXPECT_EQ(back.server, s.server);
    EXPECT_EQ(back.port, 995);
    EXPECT_EQ(back.security, Pop3Security::Tls);
    EXPECT_FALSE(back.verifyCert);
    EXPECT_TRUE(back.remember);

    s.remember = false;
    s.user = "other";
    ASSERT_TRUE(saveMailboxSettings(store, s));
    EXPECT_EQ(store.read(keys::kInfoId), "unsub@example.org") << "forgetting writes only Rem";
    MailboxSettings off = readMailboxSettings(store);
    EXPECT_FALSE(off.remember);
    EXPECT_EQ(off.user, "");

    // A 50-character password of three-byte characters fits its key.
    s.remember = true;
    std::string wide;
    for (int i = 0; i < 50; ++i) wide += "\u20ac";
    s.password = wide;
    ASSERT_TRUE(saveMailboxSettings(store, s));
    EXPECT_EQ(readMailboxSettings(store).password, wide);
}

TEST(MailboxSettingsTest, PasswordChangeChecksInOrder) {
    const std::string stored = scramblePassword("old", 9);
    struct Case {
        const char* user;
        const char* oldPw;
        const char* newPw;
        const char* confirm;
        const char* storedPw;
        PasswordChangeStatus status;
        PasswordField focus;
    };
    using S = PasswordChangeStatus;
    using F = PasswordField;
    const Case cases[] = {
        {" ", "", "", "", "", S::UserEmpty, F::User},
        {"u", " ", "", "", "", S::OldEmpty, F::Old},
        {"u", "old", "", "", "", S::OldWrong, F::Old},  // nothing stored: no change possible
        {"u", "wrong", "", "", stored.c_str(), S::OldWrong, F::Old},
        {"u", " old ", "", "", stored.c_str(), S::NewEmpty, F::New},
        {"u", "old", "new", "", stored.c_str(), S::ConfirmEmpty, F::Confirm},
        {"u", "old", "new", "neW", stored.c_str(), S::ConfirmDiffers, F::Confirm},
        {"u", "old", "new", " new", stored.c_str(), S::Ok, F::None},
    };
    for (const auto& c : cases) {
        PasswordChangeCheck r =
            checkPasswordChange(c.user, c.oldPw, c.newPw, c.confirm, c.storedPw);
        EXPECT_EQ(r.status, c.status)
            << c.user << "|" << c.oldPw << "|" << c.newPw << "|" << c.confirm;
        EXPECT_EQ(r.focus, c.focus);
        EXPECT_EQ(r.ok(), r.message.empty());
    }
}

}  // namespace
}  // namespace qm
