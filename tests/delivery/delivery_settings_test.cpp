#include "delivery/delivery_settings.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class DeliverySettingsTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    SettingsStore store{dir.file("settings.ini")};
};

TEST_F(DeliverySettingsTest, NoSmtpServerKeyMeansMxPort25NoAuthentication) {
    DeliverySettings s = loadDeliverySettings(store);
    EXPECT_TRUE(s.mxMode);
    EXPECT_EQ(s.port, 25u);
    EXPECT_FALSE(s.authenticate);
    EXPECT_EQ(s.security, ConnectionSecurity::None);
    EXPECT_TRUE(s.verifyCert);
    EXPECT_EQ(s.threadCount, 1);
    EXPECT_EQ(s.waitSeconds, 1);
}

TEST_F(DeliverySettingsTest, LoadsWhatQuillsetupWrote) {
    store.write(keys::kSmtpServer, "smtp.example.com");
    store.write(keys::kSmtpPort, "");
    store.write(keys::kSmtpAuth, "y");
    store.write(keys::kSmtpUser, "ann");
    store.write(keys::kSmtpPassword, "secret");
    store.write(keys::kSmtpSecurity, "starttls");
    DeliverySettings s = loadDeliverySettings(store);
    EXPECT_FALSE(s.mxMode);
    EXPECT_EQ(s.server, "smtp.example.com");
    EXPECT_EQ(s.port, 25u) << "an empty Port reads as 25";
    EXPECT_TRUE(s.authenticate);
    EXPECT_EQ(s.userName, "ann");
    EXPECT_EQ(s.password, "secret");
    EXPECT_EQ(s.security, ConnectionSecurity::StartTls);
}

TEST_F(DeliverySettingsTest, OneCharacterUserAndPasswordAreCleared) {
    store.write(keys::kSmtpServer, "relay");
    store.write(keys::kSmtpUser, "a");
    store.write(keys::kSmtpPassword, "b");
    DeliverySettings s = loadDeliverySettings(store);
    EXPECT_EQ(s.userName, "");
    EXPECT_EQ(s.password, "");
}

TEST_F(DeliverySettingsTest, SmtpModeRoundTrips) {
    DeliverySettings s;
    s.mxMode = false;
    s.server = "mail.example.org";
    s.port = 465;
    s.authenticate = true;
    s.userName = "bob";
    s.password = "pw\\=x";
    s.security = ConnectionSecurity::Tls;
    s.verifyCert = false;
    s.rate = {1000, RateUnit::Hour};
    saveDeliverySettings(store, s);
    DeliverySettings back = loadDeliverySettings(store);
    EXPECT_EQ(store.read(keys::kSmtpRate), "1000/h");
    EXPECT_EQ(back.rate, s.rate);
    EXPECT_FALSE(back.mxMode);
    EXPECT_EQ(back.server, s.server);
    EXPECT_EQ(back.port, 465u);
    EXPECT_TRUE(back.authenticate);
    EXPECT_EQ(back.userName, "bob");
    EXPECT_EQ(back.password, "pw\\=x");
    EXPECT_EQ(back.security, ConnectionSecurity::Tls);
    EXPECT_FALSE(back.verifyCert);
}

// A pace the program cannot read (typed into the file by hand) is no pace, not a failed load.
TEST_F(DeliverySettingsTest, UnreadablePaceLoadsAsNone) {
    store.write(keys::kSmtpServer, "relay");
    for (const char* text : {"300", "fast", "5/day", ""}) {
        store.write(keys::kSmtpRate, text);
        EXPECT_FALSE(loadDeliverySettings(store).rate.limited()) << text;
    }
    store.write(keys::kSmtpRate, "30/min");
    EXPECT_EQ(loadDeliverySettings(store).rate, (SendRate{30, RateUnit::Minute}));
}

TEST_F(DeliverySettingsTest, MxModeWritesEmptyServerAndKeepsTheRelayAccount) {
    store.write(keys::kSmtpServer, "relay");
    store.write(keys::kSmtpAuth, "y");
    store.write(keys::kSmtpUser, "ann");
    DeliverySettings s = loadDeliverySettings(store);
    s.mxMode = true;
    s.port = 2525;
    saveDeliverySettings(store, s);
    EXPECT_EQ(store.read(keys::kSmtpServer), "");
    EXPECT_EQ(store.read(keys::kSmtpPort), "2525");
    EXPECT_EQ(store.read(keys::kSmtpAuth), "y");
    EXPECT_EQ(store.read(keys::kSmtpUser), "ann");
}

// The order is kept in both modes; an unknown or missing value is the order used before it
// existed.
TEST_F(DeliverySettingsTest, ExchangerOrderRoundTripsAndDefaultsToAsAnswered) {
    EXPECT_EQ(loadDeliverySettings(store).mxOrder, MxOrder::AsAnswered);
    for (bool mx : {true, false}) {
        DeliverySettings s;
        s.mxMode = mx;
        s.server = mx ? "" : "relay";
        s.mxOrder = MxOrder::ByPreference;
        saveDeliverySettings(store, s);
        EXPECT_EQ(store.read(keys::kMxOrder), "preference");
        EXPECT_EQ(loadDeliverySettings(store).mxOrder, MxOrder::ByPreference);
    }
    for (const char* text : {"", "Preference", "weight"}) {
        store.write(keys::kMxOrder, text);
        EXPECT_EQ(loadDeliverySettings(store).mxOrder, MxOrder::AsAnswered) << text;
    }
}

TEST_F(DeliverySettingsTest, NoAuthenticationWritesEmptyCredentials) {
    DeliverySettings s;
    s.mxMode = false;
    s.server = "relay";
    s.authenticate = false;
    s.userName = "ann";
    s.password = "pw";
    saveDeliverySettings(store, s);
    EXPECT_EQ(store.read(keys::kSmtpAuth), "n");
    EXPECT_EQ(store.read(keys::kSmtpUser), "");
    EXPECT_EQ(store.read(keys::kSmtpPassword), "");
}

TEST(CheckCounts, OutOfRangeCountsNameTheirBoundsAndBecomeOne) {
    struct Case {
        int threads, wait;
        const char* message;
        int wantThreads, wantWait;
    } cases[] = {
        {1, 0, "", 1, 0},
        {15, 5, "", 15, 5},
        {20, 3, "Please enter an integer between 1 and 15.", 1, 3},
        {0, 3, "Please enter an integer between 1 and 15.", 1, 3},
        {4, 6, "Please enter an integer between 0 and 5.", 4, 1},
        {4, -1, "Please enter an integer between 0 and 5.", 4, 1},
        {16, 9, "Please enter an integer between 1 and 15.", 1, 1},
    };
    for (const auto& c : cases) {
        CountCheck got = checkCounts(c.threads, c.wait);
        EXPECT_EQ(got.message, c.message) << c.threads << "/" << c.wait;
        EXPECT_EQ(got.threadCount, c.wantThreads) << c.threads << "/" << c.wait;
        EXPECT_EQ(got.waitSeconds, c.wantWait) << c.threads << "/" << c.wait;
    }
}

TEST(PortForSecurity, FollowsTheChoiceUnlessTyped) {
    using S = ConnectionSecurity;
    EXPECT_EQ(portForSecurity(25, S::None, S::StartTls), 587u);
    EXPECT_EQ(portForSecurity(587, S::StartTls, S::Tls), 465u);
    EXPECT_EQ(portForSecurity(465, S::Tls, S::None), 25u);
    EXPECT_EQ(portForSecurity(2525, S::None, S::Tls), 2525u) << "a typed port is kept";
    EXPECT_EQ(portForSecurity(465, S::None, S::StartTls), 465u);
}

TEST(ParsePort, DecimalPrefixElseDefault) {
    EXPECT_EQ(parsePort("587"), 587u);
    EXPECT_EQ(parsePort(" 26x"), 26u);
    EXPECT_EQ(parsePort(""), 25u);
    EXPECT_EQ(parsePort("abc"), 25u);
}

TEST(FieldStates, MxModeLocksTheRelayFields) {
    DeliverySettings s;
    s.mxMode = true;
    s.authenticate = true;
    s.security = ConnectionSecurity::Tls;
    FieldStates f = fieldStates(s);
    EXPECT_FALSE(f.server);
    EXPECT_FALSE(f.credentials);
    EXPECT_FALSE(f.verifyCert);
    s.mxMode = false;
    f = fieldStates(s);
    EXPECT_TRUE(f.server);
    EXPECT_TRUE(f.credentials);
    EXPECT_TRUE(f.verifyCert);
    s.authenticate = false;
    s.security = ConnectionSecurity::None;
    f = fieldStates(s);
    EXPECT_FALSE(f.credentials);
    EXPECT_FALSE(f.verifyCert);
}

// A stored count that is not a whole number in 1..1000 reads as 1: a damaged settings file must
// not turn reuse on, or ask for sessions of millions of messages.
TEST_F(DeliverySettingsTest, MessagesPerConnectionStoredAndCheckedOnLoad) {
    struct Case {
        const char* stored;
        int want;
    } cases[] = {{"", 1},  {"1", 1},  {"100", 100}, {"1000", 1000}, {"1001", 1},
                 {"0", 1}, {"-5", 1}, {"12a", 1},   {" 5", 1},      {"99999999999", 1}};
    store.write(keys::kSmtpServer, "relay");
    for (const auto& c : cases) {
        store.write(keys::kSmtpPerConnection, c.stored);
        EXPECT_EQ(loadDeliverySettings(store).perConnection, c.want)
            << "stored [" << c.stored << "]";
    }
    for (bool mx : {false, true}) {
        DeliverySettings s;
        s.mxMode = mx;
        s.server = mx ? "" : "relay";
        s.perConnection = 250;
        saveDeliverySettings(store, s);
        EXPECT_EQ(loadDeliverySettings(store).perConnection, 250) << (mx ? "MX mode" : "relay");
    }
}

}  // namespace
}  // namespace qm
