// Quillsetup's decisions: what "Launch Quillmark" writes and where it stops, which fields are
// enabled, what a connection test needs, and which quillmark is started.
#include "setup/first_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "config/settings.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

SetupChoice relay() {
    SetupChoice c;
    c.server = "smtp.example.test";
    c.port = 587;
    c.security = ConnectionSecurity::StartTls;
    c.userName = "ann@example.test";
    c.password = "pw";
    return c;
}

// The earlier relay account that MX must leave alone.
void storeOldAccount(SettingsStore& store) {
    store.write(keys::kSmtpServer, "old.example.test");
    store.write(keys::kSmtpPort, "2525");
    store.write(keys::kSmtpAuth, "y");
    store.write(keys::kSmtpUser, "old-user");
    store.write(keys::kSmtpPassword, "old-pw");
    store.write(keys::kSmtpSecurity, "tls");
}

std::string raw(const SettingsStore& store, const SettingKey& key) {
    return store.read(key.subkey, key.value, key.readBuffer, "<absent>");
}

TEST(FirstRun, MxWritesOnlyAnEmptyServer) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    storeOldAccount(store);
    SetupChoice c = relay();
    c.mx = true;
    c.userName.clear();  // MX asks for nothing
    SetupSave save = saveSetupChoice(store, c);
    EXPECT_TRUE(save.launch());
    // An empty value reads as absent, so look at the file itself.
    EXPECT_NE(dir.read("settings.ini").find("Server=\n"), std::string::npos);
    EXPECT_EQ(raw(store, keys::kSmtpServer), "<absent>");
    EXPECT_EQ(raw(store, keys::kSmtpPort), "2525");
    EXPECT_EQ(raw(store, keys::kSmtpAuth), "y");
    EXPECT_EQ(raw(store, keys::kSmtpUser), "old-user");
    EXPECT_EQ(raw(store, keys::kSmtpPassword), "old-pw");
    EXPECT_EQ(raw(store, keys::kSmtpSecurity), "tls");
}

TEST(FirstRun, RelayWritesEveryValue) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    SetupSave save = saveSetupChoice(store, relay());
    EXPECT_TRUE(save.launch());
    EXPECT_EQ(store.read(keys::kSmtpServer), "smtp.example.test");
    EXPECT_EQ(store.read(keys::kSmtpPort), "587");
    EXPECT_EQ(store.read(keys::kSmtpAuth), "y");
    EXPECT_EQ(store.read(keys::kSmtpUser), "ann@example.test");
    EXPECT_EQ(store.read(keys::kSmtpPassword), "pw");
    EXPECT_EQ(store.read(keys::kSmtpSecurity), "starttls");
}

TEST(FirstRun, NoAuthenticationStoresEmptyValuesAndN) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    storeOldAccount(store);
    SetupChoice c = relay();
    c.authenticate = false;  // the disabled edits may still hold text
    EXPECT_TRUE(saveSetupChoice(store, c).launch());
    EXPECT_EQ(raw(store, keys::kSmtpAuth), "n");
    EXPECT_EQ(raw(store, keys::kSmtpUser), "<absent>");
    EXPECT_EQ(raw(store, keys::kSmtpPassword), "<absent>");
    std::string file = dir.read("settings.ini");
    EXPECT_NE(file.find("Uname=\n"), std::string::npos) << file;
    EXPECT_NE(file.find("Password=\n"), std::string::npos) << file;
    EXPECT_EQ(raw(store, keys::kSmtpServer), "smtp.example.test");

    // Nothing at all typed is accepted the same way.
    c.userName.clear();
    c.password.clear();
    EXPECT_TRUE(saveSetupChoice(store, c).launch());
}

TEST(FirstRun, MissingFieldsStopInOrder) {
    struct Case {
        const char* name;
        const char* user;
        const char* password;
        const char* server;
        SetupField missing;
        bool accountWritten;  // Auth, Uname and Password stored before the stop
    };
    const Case cases[] = {
        {"all empty", "", "", "", SetupField::UserName, false},
        {"user empty", "", "pw", "s.test", SetupField::UserName, false},
        {"password empty", "ann", "", "", SetupField::Password, false},
        {"server empty", "ann", "pw", "", SetupField::Server, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        test::TempDir dir;
        SettingsStore store(dir.file("settings.ini"));
        SetupChoice c = relay();
        c.userName = k.user;
        c.password = k.password;
        c.server = k.server;
        SetupSave save = saveSetupChoice(store, c);
        EXPECT_EQ(save.missing, k.missing);
        EXPECT_FALSE(save.launch());
        EXPECT_EQ(missingForTest(c), k.missing);
        EXPECT_EQ(raw(store, keys::kSmtpAuth), k.accountWritten ? "y" : "<absent>");
        EXPECT_EQ(raw(store, keys::kSmtpUser), k.accountWritten ? "ann" : "<absent>");
        EXPECT_EQ(raw(store, keys::kSmtpPassword), k.accountWritten ? "pw" : "<absent>");
        EXPECT_EQ(raw(store, keys::kSmtpServer), "<absent>");
        EXPECT_EQ(raw(store, keys::kSmtpPort), "<absent>");
    }
    EXPECT_EQ(setupMessage(SetupField::UserName), "Please enter the Username you want to use");
    EXPECT_EQ(setupMessage(SetupField::Password), "Please enter the Password you want to use");
    EXPECT_EQ(setupMessage(SetupField::Server),
              "Please enter the address of the SMTP Server you want to use");
}

// The bulk-sender switch is written last, in both modes; an OAuth 2 login stores its command and
// no password, needs a command that splits, and its connection test runs that command.
TEST(FirstRun, BulkProfileAndTokenLogin) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    SetupChoice c = relay();
    c.bulkProfile = true;
    c.login = RelayLogin::OAuthCommand;
    c.tokenCommand = "oauth2-helper --account \"ann example\"";
    EXPECT_EQ(missingForTest(c), SetupField::None);
    EXPECT_TRUE(saveSetupChoice(store, c).launch());
    EXPECT_EQ(store.read(keys::kSenderProfile), "current");
    EXPECT_EQ(store.read(keys::kTextPart), "readable");
    EXPECT_EQ(raw(store, keys::kSmtpPassword), "<absent>") << "a token login keeps no password";
    EXPECT_EQ(store.read(keys::kSmtpLogin), "oauth");
    EXPECT_EQ(store.read(keys::kSmtpTokenCommand), c.tokenCommand);
    SmtpCheck check = smtpCheckFor(c);
    EXPECT_EQ(check.login, SmtpLogin::OAuthToken);
    EXPECT_EQ(check.password, "");
    EXPECT_EQ(check.tokenCommand, c.tokenCommand);

    for (const char* command : {"", "  ", "helper \"open"}) {
        c.tokenCommand = command;
        EXPECT_EQ(saveSetupChoice(store, c).missing, SetupField::TokenCommand) << command;
        EXPECT_EQ(missingForTest(c), SetupField::TokenCommand) << command;
    }
    EXPECT_FALSE(setupMessage(SetupField::TokenCommand).empty());

    // MX with the switch off: the profile goes off, the options go back.
    c.mx = true;
    c.bulkProfile = false;
    EXPECT_TRUE(saveSetupChoice(store, c).launch());
    EXPECT_EQ(store.read(keys::kSenderProfile), "as-specified");
    EXPECT_EQ(store.read(keys::kTextPart), "source");
}

TEST(FirstRun, FailedWriteStopsTheLaunch) {
    test::TempDir dir;
    // A folder where the file should be: the store cannot read it, so it must not replace it.
    std::filesystem::create_directory(dir.file("settings.ini"));
    SettingsStore store(dir.file("settings.ini"));
    SetupSave save = saveSetupChoice(store, relay());
    EXPECT_EQ(save.missing, SetupField::None);
    EXPECT_FALSE(save.writeError.empty());
    EXPECT_FALSE(save.launch());
}

TEST(FirstRun, FieldStates) {
    SetupChoice c;
    EXPECT_TRUE(setupFieldStates(c).relay);
    EXPECT_TRUE(setupFieldStates(c).credentials);
    c.authenticate = false;
    EXPECT_TRUE(setupFieldStates(c).relay);
    EXPECT_FALSE(setupFieldStates(c).credentials);
    c.authenticate = true;
    c.mx = true;
    EXPECT_FALSE(setupFieldStates(c).relay);
    EXPECT_FALSE(setupFieldStates(c).credentials);
    EXPECT_EQ(missingForTest(c), SetupField::None);
}

TEST(FirstRun, ConnectionCheckFollowsTheScreen) {
    SmtpCheck check = smtpCheckFor(relay());
    EXPECT_EQ(check.server, "smtp.example.test");
    EXPECT_EQ(check.port, 587);
    EXPECT_EQ(check.security.mode, SmtpSecurity::StartTls);
    EXPECT_TRUE(check.authenticate);
    EXPECT_EQ(check.helloDomain, "example.test");

    SetupChoice c = relay();
    c.authenticate = false;
    c.security = ConnectionSecurity::None;
    check = smtpCheckFor(c);
    EXPECT_FALSE(check.authenticate);
    EXPECT_EQ(check.userName, "");
    EXPECT_EQ(check.password, "");
    EXPECT_EQ(check.security.mode, SmtpSecurity::None);
    EXPECT_EQ(check.helloDomain, "localhost");
}

void makeProgram(const std::string& path, bool executable) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("#!/bin/sh\n", f);
    std::fclose(f);
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(FirstRun, FindsQuillmarkBesideItselfElseOnPath) {
    test::TempDir dir;
    const std::string own = dir.file("bin"), a = dir.file("a"), b = dir.file("b");
    makeProgram(a + "/quillmark", false);  // not executable: skipped
    makeProgram(b + "/quillmark", true);
    std::filesystem::create_directories(own);
    const std::string path = dir.file("none") + ":" + a + ":" + b;
    EXPECT_EQ(findQuillmark(own, path), b + "/quillmark");
    makeProgram(own + "/quillmark", true);
    EXPECT_EQ(findQuillmark(own, path), own + "/quillmark");
    EXPECT_EQ(findQuillmark(dir.file("none"), ""), "");
    // A folder named quillmark is no program.
    std::filesystem::create_directories(dir.file("c/quillmark"));
    EXPECT_EQ(findQuillmark("", dir.file("c")), "");
}

}  // namespace
}  // namespace qm
