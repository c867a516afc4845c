#include "groups/group_files.h"

#include <gtest/gtest.h>

#include "common/file_util.h"
#include "config/paths.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const std::string kMarker(kGroupListMarker);

class GroupFiles : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }
    void addGroup(const std::string& name, const std::string& content) {
        dir.write("qm/GroupRecipients/" + groupFileName(name), content);
    }
    std::string group(const std::string& name) {
        return dir.read("qm/GroupRecipients/" + groupFileName(name));
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
};

TEST_F(GroupFiles, NamingAndSortedListing) {
    EXPECT_EQ(groupFileName("Friends"), "_Friends.sbz");
    EXPECT_EQ(groupNameFromFileName("_Friends.sbz"), "Friends");
    EXPECT_EQ(groupNameFromFileName("_Friends.txt"), std::nullopt);
    addGroup("beta", "");
    addGroup("Alpha", "");
    addGroup("gamma", "");
    dir.write("qm/GroupRecipients/notes.txt", "");
    EXPECT_EQ(listGroups(paths), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
}

TEST_F(GroupFiles, GroupListFileNameRule) {
    EXPECT_EQ(groupListFileName("all"), "all.hvt");
    EXPECT_EQ(groupListFileName("all.hvt"), "all.hvt");
    EXPECT_EQ(groupListFileName("all.HVT"), "all.HVT.hvt");
}

TEST_F(GroupFiles, GroupListRoundTripIncludingEmptyGroupAndEveryByte) {
    std::string friends =
        "a@x.com,Ann,,1%2A Main,,,,,,,,,,E\r\nb@x.com,Bob\xB8 Jr,,,,,,,,,,,,D\r\n";
    addGroup("Friends", friends);
    addGroup("Empty", "");
    std::string file = dir.file("all.hvt");
    std::string message;
    ASSERT_TRUE(writeGroupList(paths, file, &message)) << message;
    EXPECT_EQ(dir.read("all.hvt"),
              kMarker + "Empty\r\n\r\n" + kMarker + "Friends\r\n" + friends + "\r\n");

    removeFile(groupFilePath(paths, "Friends"));
    addGroup("Stale", "s@x.com,,,,,,,,,,,,,E\r\n");
    std::vector<std::string> created;
    ASSERT_TRUE(readGroupList(paths, file, &created, &message)) << message;
    EXPECT_EQ(created, (std::vector<std::string>{"Empty", "Friends"}));
    EXPECT_EQ(listGroups(paths), (std::vector<std::string>{"Empty", "Friends"}));
    EXPECT_EQ(group("Friends"), friends);
    EXPECT_EQ(group("Empty"), "");
}

// Group files written by hand or by other tools: each set, saved into a list and opened again, must
// come back as the same groups with the same recipients, in canonical CR LF form.
TEST_F(GroupFiles, SaveThenOpenKeepsGroupsWhateverTheirLineEnds) {
    const std::string a = "a@x.com,Ann,,,,,,,,,,,,E";
    const std::string b = "b@x.com,Bob,,1%2A Main,,,,,,,,,,D";
    const std::string c = "c@x.com,,,,,,,,,,,,,U";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> groups;  // name, file bytes
    } cases[] = {
        {"bare LF lines", {{"A", a + "\n" + b + "\n"}, {"B", c + "\n"}}},
        {"no final line end", {{"A", a + "\r\n" + b}, {"B", c}}},
        {"blank lines inside, before and after",
         {{"A", "\r\n" + a + "\r\n\r\n\r\n" + b + "\r\n"}, {"B", c + "\r\n \t\r\n\n"}}},
        {"mixed line ends", {{"A", a + "\n" + b + "\r\n" + c}, {"B", c + "\r\n"}}},
        {"only blank lines, then an empty group", {{"A", "\r\n\n \r\n"}, {"B", ""}, {"C", a}}},
        {"a line that looks like a block header", {{"A", a + "\n" + kMarker + "Fake\n"}, {"B", b}}},
    };
    for (const auto& c : cases) {
        for (const auto& name : listGroups(paths)) removeFile(groupFilePath(paths, name));
        std::vector<std::string> names;
        for (const auto& [name, bytes] : c.groups) {
            addGroup(name, bytes);
            names.push_back(name);
        }
        std::string file = dir.file("all.hvt"), message;
        ASSERT_TRUE(writeGroupList(paths, file, &message)) << c.name << ": " << message;
        for (const auto& name : names) removeFile(groupFilePath(paths, name));

        std::vector<std::string> created;
        ASSERT_TRUE(readGroupList(paths, file, &created, &message)) << c.name << ": " << message;
        EXPECT_EQ(created, names) << c.name;
        EXPECT_EQ(listGroups(paths), names) << c.name;
        for (const auto& [name, bytes] : c.groups) {
            EXPECT_EQ(parseGroupFile(group(name)), parseGroupFile(bytes)) << c.name << " " << name;
            EXPECT_EQ(group(name), canonicalGroupContent(bytes)) << c.name << " " << name;
        }
    }
}

TEST_F(GroupFiles, NamesAListCannotCarryAreRefusedOnSave) {
    struct Case {
        const char* name;
        std::string group, content;
        bool listable;
    } cases[] = {
        {"plain", "Friends", "", true},
        {"white space inside and in front", " My  friends", "", true},
        {"trailing space, group has members", "Friends ", "a@x.com,,,,,,,,,,,,,E\r\n", true},
        {"trailing space, empty group", "Friends ", "", false},
        {"trailing space, only blank lines", "Friends\t", "\r\n \r\n", false},
        {"CR LF inside", "Fri\r\nends", "a@x.com,,,,,,,,,,,,,E\r\n", false},
        {"lone LF inside", "Fri\nends", "", true},
    };
    for (const auto& c : cases) EXPECT_EQ(canListGroup(c.group, c.content), c.listable) << c.name;

    addGroup("Friends ", "");
    addGroup("Other", "o@x.com,,,,,,,,,,,,,E\r\n");
    std::string message;
    EXPECT_FALSE(writeGroupList(paths, dir.file("all.hvt"), &message));
    EXPECT_EQ(message, std::string(kMsgNameNotListable) + "Friends ");
    EXPECT_FALSE(fileExists(dir.file("all.hvt")));
}

TEST_F(GroupFiles, MalformedFilesChangeNothing) {
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"not a group list", "hello\r\n\r\n"},
        {"malformed second block", kMarker + "A\r\na@x.com,,,,,,,,,,,,,E\r\n\r\nJUNK\r\n\r\n"},
        {"empty block between separators", kMarker + "A\r\n\r\n\r\n\r\n" + kMarker + "B\r\n\r\n"},
        {"no blank line at all", kMarker + "A\r\na@x.com,,,,,,,,,,,,,E"},
        {"name leaves the folder", kMarker + "../../evil\r\n\r\n"},
        {"name too long", kMarker + std::string(300, 'n') + "\r\n\r\n"},
        {"empty file", ""},
    };
    for (const auto& c : cases) {
        addGroup("Keep", "k@x.com,,,,,,,,,,,,,E\r\n");
        dir.write("bad.hvt", c.text);
        std::string message;
        EXPECT_FALSE(readGroupList(paths, dir.file("bad.hvt"), nullptr, &message)) << c.name;
        EXPECT_EQ(message, kMsgUnsupportedFormat) << c.name;
        EXPECT_EQ(listGroups(paths), std::vector<std::string>{"Keep"}) << c.name;
        EXPECT_EQ(group("Keep"), "k@x.com,,,,,,,,,,,,,E\r\n") << c.name;
    }
    std::string message;
    EXPECT_FALSE(readGroupList(paths, dir.file("missing.hvt"), nullptr, &message));
    EXPECT_EQ(message, kMsgUnableToOpen);
}

TEST_F(GroupFiles, BlocksAreTrimmedAndTrailingPieceMayBeMissing) {
    auto blocks = parseGroupList(kMarker + "A\r\nx@y.com,,,,,,,,,,,,,E\r\n\r\n" + kMarker +
                                 "B\r\n\r\n  \r\n");
    ASSERT_TRUE(blocks);
    ASSERT_EQ(blocks->size(), 2u);
    EXPECT_EQ((*blocks)[0].name, "A");
    EXPECT_EQ((*blocks)[0].content, "x@y.com,,,,,,,,,,,,,E\r\n");
    EXPECT_EQ((*blocks)[1].name, "B");
    EXPECT_EQ((*blocks)[1].content, "");
}

TEST_F(GroupFiles, OlderFormConvertedOnlyOnLinesWithoutCommas) {
    struct Case {
        const char* name;
        std::string in, want;
    } cases[] = {
        {"older line",
         "a@x.com\xB8"
         "Ann\xB8"
         "Flat 5%\xB8"
         "E\r\n",
         "a@x.com,Ann,Flat 5%2B,E\r\n"},
        {"current line with stand-in kept", "a@x.com,Bob\xB8 Jr,,,,,,,,,,,,E\r\n",
         "a@x.com,Bob\xB8 Jr,,,,,,,,,,,,E\r\n"},
        {"plain line kept", "a@x.com,,,,,,,,,,,,,E\r\n", "a@x.com,,,,,,,,,,,,,E\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(convertOlderForm(c.in), c.want) << c.name;
}

TEST_F(GroupFiles, ReadGroupFileReportsRemovedFile) {
    std::vector<Recipient> members;
    std::string message;
    EXPECT_FALSE(readGroupFile(groupFilePath(paths, "Gone"), members, &message));
    EXPECT_EQ(message, kMsgGroupFileRemoved);
    addGroup("G", "a@x.com,A,,,,,,,,,,,,E\r\n\r\nb@x.com,B,,,,,,,,,,,,D\n");
    ASSERT_TRUE(readGroupFile(groupFilePath(paths, "G"), members, &message));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[1].status, RecipientStatus::Disabled);
}

}  // namespace
}  // namespace qm
