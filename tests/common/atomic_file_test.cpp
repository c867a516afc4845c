#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace qm
