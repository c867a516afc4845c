// The unsubscriber store, subscribe-mode additions, and filter and save over group files: whole
// lines are compared, never substrings, and unmatched bytes stay as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "config/paths.h"
#include "groups/group_lock.h"
#include "subscriptions/unsubscriber_filter.h"
#include "subscriptions/unsubscriber_store.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class Folders : public ::testing::Test {
  protected:
    Folders() : paths(dir.file("qm")) { paths.ensureFolders(); }
    std::string groupFile(std::string_view g) const {
        return "qm/GroupRecipients/_" + std::string(g) + ".sbz";
    }
    std::string storeFile(std::string_view g) const {
        return "qm/GroupUnsubscribers/_" + std::string(g) + ".sbz";
    }
    test::TempDir dir;
    Paths paths;
};

struct Recorder : FilterObserver {
    void status(const std::string& t) override { statuses.push_back(t); }
    void notice(const std::string& t) override { notices.push_back(t); }
    std::vector<std::string> statuses, notices;
};

TEST(UnsubscribeRequestTest, SenderAndGroup) {
    struct Case {
        const char* from;
        std::optional<std::string> want;
    };
    const Case senders[] = {
        {"\"Doe, Jane\" <jane.doe@example.org>", "jane.doe@example.org"},
        {"a@x.com, b@y.com", "a@x.com"},
        {"Undisclosed sender", std::nullopt},
        {"<not an address@>", std::nullopt},
        {"=?UTF-8?Q?J=C3=B6rg?= <joerg@example.org>", "joerg@example.org"},
    };
    for (const auto& c : senders) EXPECT_EQ(senderAddress(c.from), c.want) << c.from;

    struct Subject {
        const char* subject;
        const char* group;
    };
    const Subject subjects[] = {
        {"Unsubscribe-My:Group", "My Group"},
        {"Unsubscribe-News", "News"},
        {"Unsubscribe", "1"},
        {"Unsubscribe-", "1"},
        {"unsubscribe-News", "1"},
        {"Re: Unsubscribe-News", "1"},
        {"", "1"},
    };
    for (const auto& s : subjects) EXPECT_EQ(requestedGroup(s.subject), s.group) << s.subject;
}

TEST_F(Folders, StoreComparesWholeLines) {
    bool added = false;
    ASSERT_TRUE(recordUnsubscriber(paths, "G", "bob@x.com", &added));
    EXPECT_TRUE(added);
    ASSERT_TRUE(recordUnsubscriber(paths, "G", "ob@x.com", &added));
    EXPECT_TRUE(added) << "a longer address already there must not hide a shorter one";
    ASSERT_TRUE(recordUnsubscriber(paths, "G", "BOB@x.com", &added));
    EXPECT_FALSE(added) << "the send engine ignores letter case: one line is enough";
    ASSERT_TRUE(recordUnsubscriber(paths, "G", "ob@x.com", &added));
    EXPECT_FALSE(added);
    EXPECT_EQ(dir.read(storeFile("G")), "bob@x.com\r\nob@x.com\r\n");
}

TEST_F(Folders, StoreAppendsAfterALastLineWithoutEnd) {
    dir.write(storeFile("1"), "old@x.com");
    ASSERT_TRUE(recordUnsubscriber(paths, "1", "new@x.com"));
    EXPECT_EQ(dir.read(storeFile("1")), "old@x.com\r\nnew@x.com\r\n");
    EXPECT_FALSE(recordUnsubscriber(paths, "../escape", "a@x.com"));
}

TEST_F(Folders, SubscribeAddsOnlyAddressesThatAreNoLineYet) {
    dir.write(groupFile("G"), "ob@x.com,Ob,,,,,,,,,,,,E\r\nkeep@x.com,,,,,,,,,,,,,D");
    SubscribeResult r = addSubscribers(paths, "G", {"bob@x.com", "ob@x.com", "new@y.org"});
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.added, 2u);
    EXPECT_EQ(dir.read(groupFile("G")),
              "ob@x.com,Ob,,,,,,,,,,,,E\r\nkeep@x.com,,,,,,,,,,,,,D\r\n"
              "bob@x.com,,,,,,,,,,,,,E\r\nnew@y.org,,,,,,,,,,,,,E\r\n");

    SubscribeResult missing = addSubscribers(paths, "Nope", {"a@x.com"});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.message, "Failed to save Email IDs to Nope");
}

TEST(UnsubscriberInputTest, Separators) {
    EXPECT_EQ(parseUnsubscriberInput("a@x.com\r\nb@x.com,c@x.com;d@x.com\te@x.com f@x.com"),
              (std::vector<std::string>{"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com",
                                        "f@x.com"}));
    EXPECT_EQ(parseUnsubscriberInput("A@x.com;a@X.com;junk;;a@x"),
              (std::vector<std::string>{"A@x.com"}));
}

// The input file as a user has it: LF (Linux), CR LF (Windows) or both; every shape marks the same
// recipients, and the group file keeps its CR LF.
TEST_F(Folders, FilterInputReadsEveryLineEnd) {
    struct Case {
        const char* shape;
        const char* input;
    };
    const Case cases[] = {
        {"LF", "a@x.com\nb@x.com\nc@x.com\n"},
        {"CR LF", "a@x.com\r\nb@x.com\r\nc@x.com\r\n"},
        {"mixed", "a@x.com\r\nb@x.com\nc@x.com"},
        {"lone CR", "a@x.com\rb@x.com\rc@x.com\r"},
    };
    for (const Case& c : cases) {
        dir.write(groupFile("G"),
                  "a@x.com,,,,,,,,,,,,,E\r\nb@x.com,,,,,,,,,,,,,E\r\n"
                  "c@x.com,,,,,,,,,,,,,E\r\nd@x.com,,,,,,,,,,,,,E\r\n");
        dir.write("input.txt", c.input);
        std::vector<std::string> addresses;
        ASSERT_TRUE(checkFilterStart({"G"}, dir.file("input.txt"), addresses).ok());
        EXPECT_EQ(addresses, (std::vector<std::string>{"a@x.com", "b@x.com", "c@x.com"}))
            << c.shape;
        std::atomic<bool> running{true};
        Recorder rec;
        FilterResult r = filterGroups(paths, {"G"}, addresses, running, rec);
        EXPECT_EQ(r.marked, 3u) << c.shape;
        EXPECT_EQ(dir.read(groupFile("G")),
                  "a@x.com,,,,,,,,,,,,,U\r\nb@x.com,,,,,,,,,,,,,U\r\n"
                  "c@x.com,,,,,,,,,,,,,U\r\nd@x.com,,,,,,,,,,,,,E\r\n")
            << c.shape;
    }
}

// A group whose lock cannot be taken is left alone and named; the run still does the others and
// does not call itself a success.
TEST_F(Folders, FilterNamesAGroupItCouldNotLock) {
    dir.write(groupFile("Busy"), "a@x.com,,,,,,,,,,,,,E\r\n");
    dir.write(groupFile("Free"), "a@x.com,,,,,,,,,,,,,E\r\n");
    // A folder where the lock file belongs: the lock cannot be made, whoever runs the test.
    const std::string lock = GroupLock::lockFilePath(paths, "Busy");
    ::mkdir(lock.substr(0, lock.rfind('/')).c_str(), 0700);
    ASSERT_EQ(::mkdir(lock.c_str(), 0700), 0);
    std::atomic<bool> running{true};
    Recorder rec;
    FilterResult r = filterGroups(paths, {"Busy", "Free"}, {"a@x.com"}, running, rec);
    EXPECT_EQ(r.outcome, FilterOutcome::GroupsSkipped);
    EXPECT_EQ(r.skippedGroups, std::vector<std::string>{"Busy"});
    EXPECT_EQ(r.message,
              "Filtering has been completed, but these groups were skipped and left as they "
              "were: Busy.");
    EXPECT_EQ(dir.read(groupFile("Busy")), "a@x.com,,,,,,,,,,,,,E\r\n");
    EXPECT_EQ(dir.read(groupFile("Free")), "a@x.com,,,,,,,,,,,,,U\r\n");
}

TEST_F(Folders, FilterRewritesMatchedRecordsOnly) {
    // "a@b.cd" must not match inside "xa@b.cd"; an unmatched line keeps its odd bytes; a last
    // line without CR LF is left alone.
    const std::string before =
        "xa@b.cd,X,,,,,,,,,,,,E\r\n"
        "a@b.cd,A,,,,,,,,,,,,E\r\n"
        "odd@b.cd,O,,,,,,,,,,,,E  trailing\r\n"
        "CAP@B.CD,C,,,,,,,,,,,,D\r\n"
        "a@b.cd,A,,,,,,,,,,,,E\r\n"
        "last@b.cd,L,,,,,,,,,,,,E";
    dir.write(groupFile("G"), before);
    dir.write(groupFile("Other"), "none@b.cd,,,,,,,,,,,,,E\r\n");
    struct stat st0 {};
    ::stat(dir.file(groupFile("Other")).c_str(), &st0);
    std::atomic<bool> running{true};
    Recorder rec;
    FilterResult r = filterGroups(paths, {"G", "Other", "Missing"},
                                  {"a@b.cd", "cap@b.cd", "last@b.cd"}, running, rec);
    EXPECT_EQ(r.outcome, FilterOutcome::Done);
    EXPECT_EQ(r.message, "Filtering has been completed successfully.");
    EXPECT_EQ(r.changedGroups, 1u);
    EXPECT_EQ(dir.read(groupFile("G")),
              "xa@b.cd,X,,,,,,,,,,,,E\r\n"
              "a@b.cd,A,,,,,,,,,,,,U\r\n"
              "odd@b.cd,O,,,,,,,,,,,,E  trailing\r\n"
              "CAP@B.CD,C,,,,,,,,,,,,U\r\n"
              "a@b.cd,A,,,,,,,,,,,,U\r\n"
              "last@b.cd,L,,,,,,,,,,,,E");
    struct stat st1 {};
    ::stat(dir.file(groupFile("Other")).c_str(), &st1);
    EXPECT_EQ(st0.st_ino, st1.st_ino) << "a group where nothing matched is not rewritten";
    EXPECT_TRUE(rec.notices.empty());
}

TEST_F(Folders, StoppedFilterLeavesTheGroupAsItWas) {
    dir.write(groupFile("G"), "a@b.cd,,,,,,,,,,,,,E\r\n");
    std::atomic<bool> running{false};
    Recorder rec;
    EXPECT_EQ(filterGroups(paths, {"G"}, {"a@b.cd"}, running, rec).outcome, FilterOutcome::Stopped);
    EXPECT_EQ(dir.read(groupFile("G")), "a@b.cd,,,,,,,,,,,,,E\r\n");
}

TEST_F(Folders, SaveCollectsUnsubscribedOnce) {
    dir.write(groupFile("G1"), "a@x.com,,,,,,,,,,,,,U\r\nb@x.com,,,,,,,,,,,,,E\r\n");
    dir.write(groupFile("G2"), "A@X.com,,,,,,,,,,,,,U\r\nc@x.com,,,,,,,,,,,,,U\r\n");
    std::atomic<bool> running{true};
    Recorder rec;
    FilterResult r = saveUnsubscribed(paths, {"G1", "G2"}, dir.file("out.txt"), running, rec);
    EXPECT_EQ(r.message, "Unsubscribed recipients successfully saved.");
    EXPECT_EQ(dir.read("out.txt"), "a@x.com\r\nc@x.com\r\n");

    dir.write(groupFile("G3"), "b@x.com,,,,,,,,,,,,,E\r\n");
    FilterResult none =
        saveUnsubscribed(paths, {"G3", "Missing"}, dir.file("none.txt"), running, rec);
    EXPECT_EQ(none.outcome, FilterOutcome::NothingFound);
    EXPECT_EQ(none.message, "No unsubscribed recipient found.");
    EXPECT_FALSE(std::ifstream(dir.file("none.txt")).good());
}

}  // namespace
}  // namespace qm
