#include "groups/recipient_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "common/file_util.h"
#include "groups/group_files.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// 2026-03-05 14:03:09 in whatever zone the test runs: only its sameness matters.
constexpr std::time_t kNow = 1772719389;

std::string addresses(std::size_t n, std::string_view sep = "\r\n", std::size_t from = 0) {
    std::string out;
    for (std::size_t i = from; i < from + n; ++i) {
        out += "user" + std::to_string(i) + "@example.com";
        out += sep;
    }
    return out;
}

class Import : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }

    ImportResult run(ImportOptions options) {
        RecipientImport import(
            paths, std::move(options), [] { return kNow; }, 7);
        return import.run(running);
    }
    ImportResult runFile(std::string_view name, std::string_view content,
                         ImportContent what = ImportContent::EmailsOnly,
                         ImportDelimiter delimiter = ImportDelimiter::Enter) {
        dir.write(name, content);
        ImportOptions o;
        o.content = what;
        o.delimiter = delimiter;
        o.path = dir.file(name);
        return run(o);
    }
    std::vector<Recipient> members(const std::string& group) {
        std::vector<Recipient> out;
        EXPECT_TRUE(readGroupFile(groupFilePath(paths, group), out));
        return out;
    }
    std::vector<std::string> emails(const std::string& group) {
        std::vector<std::string> out;
        for (const auto& r : members(group)) out.push_back(r.email);
        return out;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
    std::atomic<bool> running{true};
};

TEST(ImportItems, DelimiterRules) {
    struct Case {
        const char* name;
        const char* path;
        ImportContent content;
        ImportDelimiter delimiter;
        std::string text;
        std::vector<std::pair<std::string, std::string>> want;  // address, name
    };
    using C = ImportContent;
    using D = ImportDelimiter;
    const Case cases[] = {
        {"lines, CR LF and bare LF",
         "a.txt",
         C::EmailsOnly,
         D::Enter,
         "a@x.com\r\n b@x.com \nc",
         {{"a@x.com", ""}, {"b@x.com", ""}, {"c", ""}}},
        {"comma keeps line breaks inside an item",
         "a.txt",
         C::EmailsOnly,
         D::Comma,
         "a@x.com,b@x.com\r\nc@x.com",
         {{"a@x.com", ""}, {"b@x.com\r\nc@x.com", ""}}},
        {"a csv splits at line breaks whatever the delimiter",
         "a.csv",
         C::EmailsOnly,
         D::Semicolon,
         "a@x.com;b@x.com\r\nc@x.com",
         {{"a@x.com;b@x.com", ""}, {"c@x.com", ""}}},
        {"names: second field, quotes gone, rest of the line ignored",
         "a.txt",
         C::EmailsAndName,
         D::Comma,
         "Ann,\"ann@x.com\",ignored\r\nno delimiter\r\nBob ,bob@x.com",
         {{"ann@x.com", "Ann"}, {"bob@x.com", "Bob"}}},
        {"names with semicolons keep a comma as the stand-in",
         "a.txt",
         C::EmailsAndName,
         D::Semicolon,
         "Doe, Jane;jane@x.com\r\n",
         {{"jane@x.com", "Doe\xB8 Jane"}}},
        {"names in a csv are split at commas",
         "a.csv",
         C::EmailsAndName,
         D::Semicolon,
         "Name,Email\r\nAnn;x,ann@x.com",
         {{"Email", "Name"}, {"ann@x.com", "Ann;x"}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> got;
        splitImportItems(c.text, c.path, c.content, c.delimiter, [&](const ImportItem& item) {
            got.emplace_back(std::string(item.address), item.name);
            return true;
        });
        EXPECT_EQ(got, c.want) << c.name;
    }
}

TEST(ImportItems, LongNameIsCutToHundredCharacters) {
    std::string name;
    for (int i = 0; i < 60; ++i) name += "\xC3\xA9";  // 60 x "é": 120 bytes, 60 characters
    name += std::string(60, 'a');
    std::string got;
    splitImportItems(name + ",a@x.com", "a.txt", ImportContent::EmailsAndName,
                     ImportDelimiter::Comma, [&](const ImportItem& item) {
                         got = item.name;
                         return true;
                     });
    EXPECT_EQ(got, name.substr(0, 120 + 40));
}

TEST_F(Import, SplitsSeventyThousandIntoThreeGroups) {
    ImportResult r = runFile("big.txt", addresses(70000));
    ASSERT_EQ(r.status, ImportStatus::Completed) << r.message;
    EXPECT_EQ(r.message, kMsgFileImported);
    ASSERT_EQ(r.groups.size(), 3u);
    EXPECT_EQ(r.groups[0].recipients, 32000u);
    EXPECT_EQ(r.groups[1].recipients, 32000u);
    EXPECT_EQ(r.groups[2].recipients, 6000u);
    // Same second: the later groups carry letters after the time-based name.
    EXPECT_EQ(r.groups[0].name.rfind("Group", 0), 0u);
    EXPECT_EQ(r.groups[0].name.size(), 5u + 11u);
    std::vector<std::string> third = emails(r.groups[2].name);
    ASSERT_EQ(third.size(), 6000u);
    EXPECT_EQ(third.front(), "user64000@example.com");
    EXPECT_EQ(dir.read("qm/GroupRecipients/" + groupFileName(r.groups[2].name)).substr(0, 37),
              "user64000@example.com,,,,,,,,,,,,,E\r\n");
}

TEST_F(Import, DuplicatesOncePerFileGroupAndInvalidSkipped) {
    ImportResult r = runFile("d.txt", "a@x.com\r\nA@x.com\r\na@x.com\r\nnot-an-address\r\n\r\n");
    ASSERT_EQ(r.status, ImportStatus::Completed);
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(emails(r.groups[0].name), (std::vector<std::string>{"a@x.com", "A@x.com"}));
}

TEST_F(Import, SeenSetStartsAgainWithEachGroup) {
    // The 32,001st item repeats the first address: it belongs to the second group.
    ImportResult r = runFile("r.txt", addresses(32000) + "user0@example.com\r\n");
    ASSERT_EQ(r.groups.size(), 2u);
    EXPECT_EQ(emails(r.groups[1].name), std::vector<std::string>{"user0@example.com"});
}

TEST_F(Import, DirectoryGivesEachFileItsOwnGroups) {
    dir.write("src/one.txt", "a@x.com\r\nb@x.com\r\n");
    dir.write("src/two.csv", "a@x.com\r\n");
    dir.write("src/skip.TXT", "c@x.com\r\n");
    dir.write("src/sub/three.txt", "d@x.com\r\n");
    ::symlink(dir.file("src").c_str(), dir.file("src/sub/loop").c_str());
    ImportOptions o;
    o.source = ImportSource::Directory;
    o.path = dir.file("src");
    ImportResult flat = run(o);
    ASSERT_EQ(flat.status, ImportStatus::Completed);
    EXPECT_EQ(flat.message, kMsgFilesImported);
    ASSERT_EQ(flat.groups.size(), 2u);
    EXPECT_EQ(emails(flat.groups[0].name), (std::vector<std::string>{"a@x.com", "b@x.com"}));
    EXPECT_EQ(emails(flat.groups[1].name), std::vector<std::string>{"a@x.com"});

    o.includeSubdirectories = true;
    ImportResult deep = run(o);
    ASSERT_EQ(deep.status, ImportStatus::Completed);
    // Entries in name order, a subfolder where its name falls; the link back is not followed.
    ASSERT_EQ(deep.groups.size(), 3u);
    EXPECT_EQ(emails(deep.groups[1].name), std::vector<std::string>{"d@x.com"});
    EXPECT_EQ(deep.groups[1].source, dir.file("src/sub/three.txt"));
}

TEST_F(Import, NameWithCommaKeepsTheLineWellFormed) {
    ImportResult r = runFile("n.txt", "Smith, John;john@x.com\r\n", ImportContent::EmailsAndName,
                             ImportDelimiter::Semicolon);
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(dir.read("qm/GroupRecipients/" + groupFileName(r.groups[0].name)),
              "john@x.com,Smith\xB8 John,,,,,,,,,,,,E\r\n");
}

TEST_F(Import, TimeNameTakenInTheFolderIsNotOverwritten) {
    // A group made by another import in the same second, in another letter case.
    dir.write("x.txt", "first@x.com\r\n");
    ImportOptions o;
    o.path = dir.file("x.txt");
    ImportResult first = run(o);
    ASSERT_EQ(first.groups.size(), 1u);
    const std::string taken = first.groups[0].name;
    std::string lower = taken;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    dir.write("qm/GroupRecipients/" + groupFileName(lower + "Z"), "keep@x.com,,,,,,,,,,,,,E\r\n");

    // A fresh run (a new dialog) makes the same time-based name and must step around both.
    ImportResult second = runFile("y.txt", "second@x.com\r\n");
    ASSERT_EQ(second.status, ImportStatus::Completed);
    ASSERT_EQ(second.groups.size(), 1u);
    EXPECT_NE(second.groups[0].name, taken);
    EXPECT_EQ(emails(taken), std::vector<std::string>{"first@x.com"});
    EXPECT_EQ(emails(second.groups[0].name), std::vector<std::string>{"second@x.com"});
    EXPECT_EQ(listGroups(paths).size(), 3u);
}

TEST_F(Import, StopKeepsWrittenGroupsAndDropsThePartlyFilledOne) {
    struct StopAfterFirstGroup : ImportObserver {
        std::atomic<bool>* running;
        void groupWritten(const ImportedGroup&) override { *running = false; }
    } observer;
    observer.running = &running;
    dir.write("s.txt", addresses(40000));
    ImportOptions o;
    o.path = dir.file("s.txt");
    RecipientImport import(
        paths, o, [] { return kNow; }, 7);
    ImportResult r = import.run(running, &observer);
    EXPECT_EQ(r.status, ImportStatus::Stopped);
    EXPECT_TRUE(r.message.empty());
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(listGroups(paths), std::vector<std::string>{r.groups[0].name});
    EXPECT_EQ(members(r.groups[0].name).size(), 32000u);
}

TEST_F(Import, FailuresAreReportedNotSuccess) {
    // Empty source; a file where a folder is expected; an unwritable group folder.
    ImportOptions empty;
    EXPECT_EQ(run(empty).message, kMsgSelectSource);
    dir.write("f.txt", "a@x.com\r\n");
    ImportOptions wrongKind;
    wrongKind.source = ImportSource::Directory;
    wrongKind.path = dir.file("f.txt");
    EXPECT_EQ(run(wrongKind).status, ImportStatus::Failed);

    if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
    ::chmod(paths.groupRecipients().c_str(), 0555);
    ImportResult r = runFile("f.txt", "a@x.com\r\n");
    ::chmod(paths.groupRecipients().c_str(), 0755);
    EXPECT_EQ(r.status, ImportStatus::Failed);
    EXPECT_TRUE(r.groups.empty());
    EXPECT_NE(r.message.find("Failed to write group"), std::string::npos) << r.message;
}

// A contacts export (a header row and many columns) in the "Emails Only" mode takes nothing: no
// group is made, and the result says so instead of calling the import a success.
TEST_F(Import, NothingTakenIsNotASuccess) {
    const std::string contacts =
        "First Name,Last Name,E-mail Address,Phone\r\nAnn,Lee,ann@x.com,555\r\n";
    ImportResult r = runFile("contacts.csv", contacts);
    EXPECT_EQ(r.status, ImportStatus::NothingFound);
    EXPECT_TRUE(r.groups.empty());
    EXPECT_EQ(r.message, "No e-mail address was found in " + dir.file("contacts.csv") + ".");
    EXPECT_TRUE(listGroups(paths).empty());

    dir.write("none/a.txt", "nobody here\n");
    ImportOptions folder;
    folder.source = ImportSource::Directory;
    folder.path = dir.file("none");
    r = run(folder);
    EXPECT_EQ(r.status, ImportStatus::NothingFound);
    EXPECT_EQ(r.message, "No e-mail address was found in " + dir.file("none") + ".");
}

TEST_F(Import, GroupFolderReplacedByAFileFailsTheWrite) {
    // Works as root too: the group folder cannot be made when a file stands in its place.
    ::rmdir(paths.groupRecipients().c_str());
    dir.write("qm/GroupRecipients", "not a folder");
    ImportResult r = runFile("f.txt", "a@x.com\r\n");
    EXPECT_EQ(r.status, ImportStatus::Failed);
    EXPECT_TRUE(r.groups.empty());
    EXPECT_NE(r.message, kMsgFileImported);
}

TEST_F(Import, UnreadableFileOfAFolderIsNamed) {
    dir.write("src/a.txt", "a@x.com\r\n");
    ASSERT_EQ(::symlink(dir.file("gone").c_str(), dir.file("src/b.txt").c_str()), 0);
    dir.write("src/c.txt", "c@x.com\r\n");
    ImportOptions o;
    o.source = ImportSource::Directory;
    o.path = dir.file("src");
    ImportResult r = run(o);
    EXPECT_EQ(r.status, ImportStatus::Failed);
    EXPECT_EQ(r.groups.size(), 2u);
    ASSERT_EQ(r.unreadFiles.size(), 1u);
    EXPECT_NE(r.message.find("b.txt"), std::string::npos) << r.message;
}

}  // namespace
}  // namespace qm
