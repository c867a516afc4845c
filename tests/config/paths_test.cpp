#include "config/paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "common/file_util.h"
#include "config/home_folder.h"
#include "config/settings.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(Paths, ProgramFolderChoice) {
    test::TempDir dir;
    SettingsStore store(dir.file("s.ini"));
    ScopedEnv home("HOME", "/home/tester");
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv qmHome("QUILLMARK_HOME", nullptr);

    struct Case {
        const char* appPath;
        std::string want;
    } cases[] = {
        {"", "/home/tester/.local/share/quillmark"},  // absent: never the root
        {"/opt/qm/", "/opt/qm"},                      // trailing slash dropped
        {"relative/dir", "/home/tester/.local/share/quillmark"},
        {"C:\\Program Files\\QM", "/home/tester/.local/share/quillmark"},
        {"/", "/home/tester/.local/share/quillmark"},
    };
    for (const auto& c : cases) {
        store.write(keys::kAppPath, c.appPath);
        Paths p = Paths::current(store);
        EXPECT_EQ(p.programFolder(), c.want) << "AppPath=" << c.appPath;
        EXPECT_EQ(p.dataRoot(), c.want + "/ProgramData/QMK");
    }

    ScopedEnv x2("XDG_DATA_HOME", "/data");
    store.write(keys::kAppPath, "");
    EXPECT_EQ(Paths::current(store).programFolder(), "/data/quillmark");
    ScopedEnv q2("QUILLMARK_HOME", "/portable/qm");
    store.write(keys::kAppPath, "/opt/qm");
    EXPECT_EQ(Paths::current(store).programFolder(), "/portable/qm");
    EXPECT_EQ(Paths::current(store).schedulerFile(), "/portable/qm/ProgramData/QMK/Scheduler.txt");
}

// Without HOME the per-user defaults come from the password database, never from a fixed name
// under /tmp that another local user could have made first.
TEST(Paths, WithoutHomeThePasswordDatabaseGivesTheFolders) {
    test::TempDir dir;
    SettingsStore store(dir.file("s.ini"));
    ScopedEnv xdgData("XDG_DATA_HOME", nullptr);
    ScopedEnv xdgConfig("XDG_CONFIG_HOME", nullptr);
    ScopedEnv qmHome("QUILLMARK_HOME", nullptr);
    ScopedEnv qmConfig("QUILLMARK_CONFIG", nullptr);
    const passwd* entry = ::getpwuid(::getuid());
    const std::string passwdHome = entry && entry->pw_dir ? entry->pw_dir : "";
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        SCOPED_TRACE(home ? std::string("HOME=") + home : "HOME unset");
        ScopedEnv env("HOME", home);
        std::string error;
        std::string settings = SettingsStore::defaultPath(&error);
        std::optional<Paths> paths = Paths::find(store, &error);
        if (passwdHome.empty() || passwdHome[0] != '/') {
            // No entry for this user: nothing to fall back on.
            EXPECT_EQ(settings, "");
            EXPECT_FALSE(paths);
            EXPECT_NE(error.find("No home folder"), std::string::npos) << error;
            EXPECT_FALSE(locateUserFolders(&error));
            continue;
        }
        EXPECT_EQ(settings, passwdHome + "/.config/quillmark/settings.ini");
        ASSERT_TRUE(paths) << error;
        EXPECT_EQ(paths->programFolder(),
                  (passwdHome == "/" ? "" : passwdHome) + "/.local/share/quillmark");
        EXPECT_TRUE(locateUserFolders(&error)) << error;
    }
}

TEST(Paths, NoPasswordDatabaseEntryIsAnErrorNotAFolder) {
    // A user id far beyond any real account.
    uid_t nobody = 0x7ffffff0;
    ASSERT_EQ(::getpwuid(nobody), nullptr);
    std::string error;
    EXPECT_EQ(passwordDatabaseHome(nobody, &error), "");
    EXPECT_NE(error.find("no entry for user id"), std::string::npos) << error;
}

TEST(Paths, EnsureFoldersCreatesEveryFolder) {
    test::TempDir dir;
    Paths p(dir.file("qm"));
    ASSERT_TRUE(p.ensureFolders());
    for (const auto& f : {p.groupRecipients(), p.groupOutput(), p.groupUnsubscribers(),
                          p.emlOutput(), p.images(), p.dataRoot(), p.outbox()})
        EXPECT_TRUE(isDirectory(f)) << f;
}

TEST(Paths, RunningCopyMarkerAllowsASecondCopy) {
    test::TempDir dir;
    Paths p(dir.file("qm"));
    EXPECT_FALSE(RunningCopyMarker::anyCopyRunning(p));
    {
        RunningCopyMarker first(p);
        RunningCopyMarker second(p);
        EXPECT_TRUE(first.held());
        EXPECT_TRUE(second.held());
        EXPECT_TRUE(RunningCopyMarker::anyCopyRunning(p));
    }
    EXPECT_FALSE(RunningCopyMarker::anyCopyRunning(p));
}

}  // namespace
}  // namespace qm
