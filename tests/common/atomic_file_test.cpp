#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "common/file_util.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    dir.write("a.txt", "old");
    ASSERT_TRUE(writeFileAtomic(dir.file("a.txt"), std::string("new\0bytes\xBA", 10)));
    EXPECT_EQ(dir.read("a.txt"), std::string("new\0bytes\xBA", 10));
    EXPECT_EQ(listFiles(dir.path(), "").size(), 1u);
}

TEST(AtomicFile, KeepsModeOfReplacedFileAndUsesGivenModeForNewOne) {
    test::TempDir dir;
    ASSERT_TRUE(writeFileAtomic(dir.file("secret"), "x", nullptr, {.mode = 0600}));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(writeFileAtomic(dir.file("secret"), "y"));
    ASSERT_EQ(::stat(dir.file("secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFile, FailureLeavesTargetUntouchedAndSaysWhy) {
    std::string error;
    EXPECT_FALSE(writeFileAtomic("/nonexistent-folder/x", "data", &error));
    EXPECT_NE(error.find("/nonexistent-folder/x"), std::string::npos) << error;
}

TEST(FileUtil, ReadFileRefusesFilesOverTheLimit) {
    test::TempDir dir;
    dir.write("big", std::string(100, 'x'));
    std::string out, error;
    EXPECT_FALSE(readFile(dir.file("big"), out, &error, 99));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(readFile(dir.file("big"), out, &error, 100));
    EXPECT_EQ(out.size(), 100u);
}

TEST(FileUtil, AppendLinesEndsAnOpenLastLineFirst) {
    struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"no final line end", "a@x.com,E", "a@x.com,E\r\nb\r\n"},
        {"LF only", "a@x.com,E\n", "a@x.com,E\nb\r\n"},
        {"CR LF", "a@x.com,E\r\n", "a@x.com,E\r\nb\r\n"},
        {"a lone CR", "a@x.com,E\r", "a@x.com,E\r\nb\r\n"},
        {"empty file", "", "b\r\n"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        dir.write("g", c.before);
        std::string error;
        EXPECT_TRUE(appendLines(dir.file("g"), "b\r\n", &error)) << c.name << ": " << error;
        EXPECT_EQ(dir.read("g"), c.after) << c.name;
    }
    EXPECT_TRUE(appendLines(dir.file("new"), "b\r\n"));
    EXPECT_EQ(dir.read("new"), "b\r\n") << "a missing file is made";
}

// A write that fails part-way, as on a full disk: the file size limit of a child process makes
// the kernel write only what fits and then refuse (EFBIG). Whatever got written is cut off again.
TEST(FileUtil, AppendLinesThatFailsPartWayLeavesTheFileAsItWas) {
    struct {
        const char* name;
        std::string before;
        rlim_t room;  // bytes the file may still grow by
    } cases[] = {
        {"no room at all", "a@x.com,E\r\n", 0},
        {"half the line end that goes first", "a@x.com,E", 1},
        {"part of the first line", "a@x.com,E", 10},
        {"some whole lines", "a@x.com,E\r\n", 300},
    };
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "user" + std::to_string(i) + "@x.com,,,,,,,,,,,,,E\r\n";
    test::TempDir dir;
    for (const auto& c : cases) {
        dir.write("g", c.before);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = c.before.size() + c.room;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            bool ok = appendLines(dir.file("g"), lines, &error);
            _exit(ok ? 1 : error.find("cannot write " + dir.file("g")) == 0 ? 0 : 2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << c.name << ": the append did not fail with a clear error (" << status << ")";
        EXPECT_EQ(dir.read("g"), c.before) << c.name;
    }
}

}  // namespace
}  // namespace qm
