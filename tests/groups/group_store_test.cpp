#include "groups/group_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>

#include "common/file_util.h"
#include "groups/group_files.h"
#include "groups/group_folder.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::string line(const std::string& email, const std::string& name = "", char status = 'E') {
    return email + "," + name + ",,,,,,,,,,,," + status + "\r\n";
}

// `n` distinct address lines.
std::string manyLines(std::size_t n, std::size_t from = 0) {
    std::string out;
    for (std::size_t i = from; i < from + n; ++i) out += line("u" + std::to_string(i) + "@x.com");
    return out;
}

Recipient entry(const std::string& email, const std::string& name = "") {
    Recipient typed;
    typed.email = email;
    typed.name = name;
    EntryCheck check = checkRecipientEntry(typed);
    EXPECT_TRUE(check.result.ok()) << check.result.message;
    return check.record;
}

class Store : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }
    void writeGroup(const std::string& name, const std::string& content) {
        dir.write("qm/GroupRecipients/" + groupFileName(name), content);
    }
    std::string group(const std::string& name) {
        return dir.read("qm/GroupRecipients/" + groupFileName(name));
    }
    ino_t inode(const std::string& name) {
        struct stat st {};
        ::stat(groupFilePath(paths, name).c_str(), &st);
        return st.st_ino;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
    GroupStore store{paths};
};

TEST_F(Store, GroupNameRules) {
    struct Case {
        const char* typed;
        StoreStatus want;
        const char* message;
    } cases[] = {
        {"  ", StoreStatus::NameEmpty, "You must enter group name."},
        {"a/b", StoreStatus::NameInvalidCharacters, "Invalid charaters(\\/?:*\"<>|) detected."},
        {"Why?", StoreStatus::NameInvalidCharacters, "Invalid charaters(\\/?:*\"<>|) detected."},
        {"1st", StoreStatus::NameFirstNotLetter, "First character must be an alphabet."},
        {"-x", StoreStatus::NameFirstNotLetter, "First character must be an alphabet."},
        {"\xC3\x96sterreich", StoreStatus::Ok, ""},
        {" Friends 2 ", StoreStatus::Ok, ""},
    };
    for (const auto& c : cases) {
        std::string name;
        StoreResult r = checkGroupName(c.typed, name);
        EXPECT_EQ(r.status, c.want) << c.typed;
        EXPECT_EQ(r.message, c.message) << c.typed;
    }
    std::string name;
    checkGroupName(" Friends 2 ", name);
    EXPECT_EQ(name, "Friends 2");
    EXPECT_EQ(checkGroupName(std::string(260, 'a'), name).status, StoreStatus::NameTooLong);
}

TEST_F(Store, CreateRenameDeleteGroups) {
    ASSERT_TRUE(store.createGroup(" Friends ").ok());
    EXPECT_EQ(group("Friends"), "");
    EXPECT_EQ(store.createGroup("FRIENDS").message, "Group with same name already exists.");
    ASSERT_TRUE(store.createGroup("Work").ok());
    EXPECT_EQ(store.renameGroup("Work", "friends").message,
              "Cannot modify as a group with same name already exists.");
    writeGroup("Work", line("a@x.com"));
    ASSERT_TRUE(store.load("Work").ok());
    ASSERT_TRUE(store.renameGroup("Work", "work").ok());  // its own name in other letters
    EXPECT_EQ(store.loadedGroup(), "work");
    EXPECT_EQ(group("work"), line("a@x.com"));
    EXPECT_EQ(store.groups(), (std::vector<std::string>{"Friends", "work"}));
    EXPECT_EQ(store.renameGroup("Gone", "Other").status, StoreStatus::FileRemoved);
    ASSERT_TRUE(store.deleteGroup("work").ok());
    EXPECT_FALSE(store.loadedGroup());
    EXPECT_EQ(store.deleteGroup("work").status, StoreStatus::FileRemoved);
    ASSERT_TRUE(store.removeAllGroups().ok());
    EXPECT_TRUE(store.groups().empty());
}

// Every rewrite changes whole lines that read as the recipient (identical duplicates together),
// keeps the order, never touches a line that merely ends in the same text, and replaces the file
// rather than writing into it.
TEST_F(Store, RewritesChangeEveryIdenticalLineInPlaceOfTheFile) {
    const std::string a = line("a@x.com", "Ann"), ba = line("ba@x.com", "Ann");
    const std::string b = line("b@x.com", "Bob");
    struct Case {
        const char* name;
        std::function<StoreResult(GroupStore&)> op;
        std::string want;
    } cases[] = {
        {"disable",
         [](GroupStore& s) { return s.setRecipientStatus("a@x.com", RecipientStatus::Disabled); },
         line("a@x.com", "Ann", 'D') + ba + line("a@x.com", "Ann", 'D') + b},
        {"modify",
         [](GroupStore& s) { return s.modifyRecipient("a@x.com", entry("c@x.com", "Cy")); },
         line("c@x.com", "Cy") + ba + line("c@x.com", "Cy") + b},
        {"delete", [](GroupStore& s) { return s.deleteRecipient("a@x.com"); }, ba + b},
        {"remove all", [](GroupStore& s) { return s.removeAllRecipients(); }, ""},
    };
    for (const auto& c : cases) {
        writeGroup("G", a + ba + a + b);
        ASSERT_TRUE(store.load("G").ok());
        ino_t before = inode("G");
        StoreResult r = c.op(store);
        ASSERT_TRUE(r.ok()) << c.name << ": " << r.message;
        EXPECT_EQ(group("G"), c.want) << c.name;
        EXPECT_NE(inode("G"), before) << c.name << ": rewritten in place";
        std::vector<Recipient> fromFile;
        readGroupFile(groupFilePath(paths, "G"), fromFile);
        EXPECT_EQ(store.rows(), fromFile) << c.name << ": rows differ from the file";
    }
}

TEST_F(Store, CopyCutAndCopyAllGiveClipboardText) {
    const std::string stored = "a@x.com,Ann,,1%2A Main,,,,,,,,,,D\r\n" + line("b@x.com");
    writeGroup("G", stored);
    ASSERT_TRUE(store.load("G").ok());
    std::string clip;
    ASSERT_TRUE(store.copyRecipient("a@x.com", clip).ok());
    EXPECT_EQ(clip, "a@x.com,Ann,,1, Main,,,,,,,,,,D\r\n");  // plain form
    ASSERT_TRUE(store.copyAllRecipients(clip).ok());
    EXPECT_EQ(clip, stored);  // the file as stored
    std::string storedLine;
    ASSERT_TRUE(store.cutRecipient("a@x.com", clip, &storedLine).ok());
    EXPECT_EQ(clip, "a@x.com,Ann,,1, Main,,,,,,,,,,D\r\n");
    EXPECT_EQ(storedLine, "a@x.com,Ann,,1%2A Main,,,,,,,,,,D\r\n") << "pastes back whole";
    EXPECT_EQ(group("G"), line("b@x.com"));
    EXPECT_EQ(store.copyRecipient("a@x.com", clip).status, StoreStatus::RecipientNotFound);
    ASSERT_TRUE(store.paste(storedLine).ok());
    EXPECT_EQ(group("G"), line("b@x.com") + "a@x.com,Ann,,1%2A Main,,,,,,,,,,D\r\n");
}

TEST_F(Store, ModifyOfDisabledRecipientEnablesIt) {
    writeGroup("G", line("a@x.com", "Ann", 'D'));
    ASSERT_TRUE(store.load("G").ok());
    ASSERT_TRUE(store.modifyRecipient("a@x.com", entry("a@x.com", "Anne")).ok());
    EXPECT_EQ(group("G"), line("a@x.com", "Anne"));
    EXPECT_EQ(store.recipient("a@x.com")->status, RecipientStatus::Enabled);
}

TEST_F(Store, MissingFileIsReportedAndNothingChanges) {
    writeGroup("G", line("a@x.com"));
    ASSERT_TRUE(store.load("G").ok());
    ::unlink(groupFilePath(paths, "G").c_str());
    for (auto r : {store.setRecipientStatus("a@x.com", RecipientStatus::Disabled),
                   store.deleteRecipient("a@x.com"), store.addRecipient(entry("b@x.com"))}) {
        EXPECT_EQ(r.status, StoreStatus::FileRemoved);
        EXPECT_EQ(r.message, "Someone seemed to have removed a application file.");
    }
    EXPECT_EQ(store.rows().size(), 1u);
    EXPECT_FALSE(fileExists(groupFilePath(paths, "G")));
    EXPECT_EQ(store.load("Nobody").status, StoreStatus::FileRemoved);
    EXPECT_EQ(store.statusLine(), "\tGroup:\t\tRecipients:");
}

TEST_F(Store, KeysAreCaseSensitiveFindIgnoresCase) {
    writeGroup("G", "");
    ASSERT_TRUE(store.load("G").ok());
    ASSERT_TRUE(store.addRecipient(entry("Ann.Lee@my-shop.example", "Ann")).ok());
    ASSERT_TRUE(store.addRecipient(entry("ann.lee@my-shop.example", "Annie")).ok());
    ASSERT_TRUE(store.addRecipient(entry("bo@x.com")).ok());  // no name: never matches by name
    EXPECT_EQ(store.addRecipient(entry("bo@x.com")).message,
              "Email address entered already exists in the group.");
    EXPECT_EQ(store.modifyRecipient("bo@x.com", entry("ann.lee@my-shop.example")).message,
              "Email address entered already exists in the group.");

    struct Case {
        FindField field;
        FindOperator op;
        const char* expr;
        std::vector<std::size_t> want;
        StoreStatus status;
    } cases[] = {
        {FindField::Email, FindOperator::Is, "ANN.LEE@MY-SHOP.EXAMPLE", {0, 1}, StoreStatus::Ok},
        {FindField::Email, FindOperator::DomainIs, " MY-SHOP.example ", {0, 1}, StoreStatus::Ok},
        {FindField::Email, FindOperator::DomainIs, "shop.example", {}, StoreStatus::Ok},
        {FindField::Email, FindOperator::StartsWith, "b", {2}, StoreStatus::Ok},
        {FindField::Email, FindOperator::EndsWith, ".COM", {2}, StoreStatus::Ok},
        {FindField::Name, FindOperator::StartsWith, "ann", {0, 1}, StoreStatus::Ok},
        {FindField::Name, FindOperator::Is, "ann", {0}, StoreStatus::Ok},
        {FindField::Name, FindOperator::EndsWith, "IE", {1}, StoreStatus::Ok},
        {FindField::Name, FindOperator::Is, "Ann-Marie", {}, StoreStatus::FindExpressionInvalid},
        {FindField::Email, FindOperator::Is, "a+b@x.com", {}, StoreStatus::FindExpressionInvalid},
        {FindField::Email, FindOperator::Is, "a,b", {}, StoreStatus::FindExpressionInvalid},
        {FindField::Name, FindOperator::DomainIs, "x.com", {}, StoreStatus::FindOperatorInvalid},
        {FindField::Email, FindOperator::Is, " \t", {}, StoreStatus::FindExpressionEmpty},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> got;
        StoreResult r = store.find(c.field, c.op, c.expr, got);
        EXPECT_EQ(r.status, c.status) << c.expr;
        EXPECT_EQ(got, c.want) << c.expr;
    }
    std::vector<std::size_t> got;
    EXPECT_EQ(store.find(FindField::Email, FindOperator::Is, "", got).message,
              "Please enter a search expression.");
    EXPECT_EQ(store.find(FindField::Name, FindOperator::Is, "a-b", got).message,
              "Invalid characters detected.");
}

TEST_F(Store, LimitOf32000OnLoadAddAndPaste) {
    writeGroup("Full", manyLines(kMaxGroupRecipients));
    StoreResult r = store.load("Full");
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.notices.empty()) << "exactly 32,000 lines are no overflow";
    EXPECT_EQ(store.rows().size(), kMaxGroupRecipients);
    EXPECT_EQ(store.checkAdd().status, StoreStatus::LimitReached) << "refused before the dialog";
    EXPECT_EQ(store.addRecipient(entry("new@x.com")).message,
              "You cannot add more than 32,000 emails to a group.");
    GroupStore::PasteCounts counts;
    r = store.paste(line("new@x.com"), &counts);
    EXPECT_EQ(r.notices, std::vector<std::string>{
                             "You have reached maximum limit of 32,000 recipients in this group."});
    EXPECT_EQ(counts.added, 0u);

    writeGroup("Over", manyLines(kMaxGroupRecipients + 1));
    r = store.load("Over");
    EXPECT_EQ(r.notices, std::vector<std::string>{"Group seem to contain more contacts than "
                                                  "listed. These will not be loaded."});
    EXPECT_EQ(store.rows().size(), kMaxGroupRecipients);

    writeGroup("Almost", manyLines(kMaxGroupRecipients - 2));
    ASSERT_TRUE(store.load("Almost").ok());
    r = store.addRecipient(entry("one@x.com"));
    EXPECT_TRUE(r.ok() && r.notices.empty());
    r = store.addRecipient(entry("two@x.com"));  // the 32,000th
    EXPECT_EQ(r.notices, std::vector<std::string>{
                             "You have reched your limit of 32,000 recipients for this group."});
    ASSERT_TRUE(store.deleteRecipient("two@x.com").ok());
    r = store.paste(line("p1@x.com") + line("p2@x.com"), &counts);
    EXPECT_EQ(counts.added, 1u);
    EXPECT_EQ(r.notices.size(), 1u);
    EXPECT_EQ(group("Almost"),
              manyLines(kMaxGroupRecipients - 2) + line("one@x.com") + line("p1@x.com"));
}

TEST_F(Store, PasteFiltersAndSummarisesOnce) {
    writeGroup("G", line("a@x.com"));
    ASSERT_TRUE(store.load("G").ok());
    std::string clip = line("a@x.com") +                        // already in the group
                       line("b@x.com", "Bob", 'D') +            // new, kept disabled
                       "not an address,,,,,,,,,,,,,E\r\n" +     // invalid
                       line("b@x.com", "Again") +               // duplicate within the text
                       "c@x.com,Cy,,1, Main St,,,,,,,,,,E\r\n"  // plain form: address split
                       "\r\n" +
                       line("d@x.com").substr(0, 20);  // no line end: ignored
    GroupStore::PasteCounts counts;
    StoreResult r = store.paste(clip, &counts);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(counts.added, 2u);
    EXPECT_EQ(counts.dropped, 3u);
    EXPECT_EQ(r.notices, std::vector<std::string>{"Clipboard contained some duplicate or invalid "
                                                  "recipients. They were automatically filtered."});
    std::string stored = group("G");
    EXPECT_EQ(stored.substr(0, line("a@x.com").size() + line("b@x.com", "Bob", 'D').size()),
              line("a@x.com") + line("b@x.com", "Bob", 'D'));
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 3);
    EXPECT_EQ(store.rows().size(), 3u);
    EXPECT_TRUE(store.paste(line("e@x.com")).notices.empty());
}

// Files written by other tools may end without a line end: an add or a paste must not run on
// from the last line.
TEST_F(Store, AddAndPasteAfterAnOpenLastLineKeepEveryRecipient) {
    const std::string first = line("a@x.com");
    struct {
        const char* name;
        std::string before;
        std::vector<std::string> emails;  // after adding b@x.com, then pasting c@x.com
    } cases[] = {
        {"no final line end", first.substr(0, first.size() - 2), {"a@x.com", "b@x.com", "c@x.com"}},
        {"LF only", first.substr(0, first.size() - 2) + "\n", {"a@x.com", "b@x.com", "c@x.com"}},
        {"empty file", "", {"b@x.com", "c@x.com"}},
    };
    for (const auto& c : cases) {
        writeGroup("G", c.before);
        ASSERT_TRUE(store.load("G").ok());
        ASSERT_TRUE(store.addRecipient(entry("b@x.com")).ok()) << c.name;
        writeGroup("H", c.before);
        ASSERT_TRUE(store.load("H").ok());
        ASSERT_TRUE(store.paste(line("b@x.com")).ok()) << c.name;
        for (const char* g : {"G", "H"}) {
            ASSERT_TRUE(store.load(g).ok());
            ASSERT_TRUE(store.paste(line("c@x.com")).ok()) << c.name;
            std::string stored = group(g);
            EXPECT_EQ(stored.substr(0, c.before.size()), c.before) << c.name << ": bytes kept";
            std::vector<std::string> emails;
            GroupStore fresh(paths);
            ASSERT_TRUE(fresh.load(g).ok());
            for (const auto& r : fresh.rows()) emails.push_back(r.email);
            EXPECT_EQ(emails, c.emails) << c.name << " " << g << "\n" << stored;
        }
    }
}

// An add that fails part-way (the file size limit of a child process, as a full disk would) leaves
// no half line, so the next add is whole.
TEST_F(Store, FailedAddLeavesTheFileForTheNextAdd) {
    const std::string before = line("a@x.com").substr(0, line("a@x.com").size() - 2);
    writeGroup("G", before);
    ASSERT_TRUE(store.load("G").ok());
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = before.size() + 9;  // the line end and part of the new line
        ::setrlimit(RLIMIT_FSIZE, &limit);
        StoreResult r = store.addRecipient(entry("b@x.com"));
        _exit(r.status == StoreStatus::WriteFailed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(group("G"), before);
    ASSERT_TRUE(store.addRecipient(entry("c@x.com")).ok());
    EXPECT_EQ(group("G"), before + "\r\n" + line("c@x.com"));
}

TEST_F(Store, StoppedLoadRefusesAddModifyPaste) {
    writeGroup("Big", manyLines(2000));  // several slices
    ASSERT_TRUE(store.startLoad("Big").ok());
    EXPECT_EQ(store.statusLine(), "\tLoading group: Big");
    EXPECT_TRUE(store.loadSlice());
    store.stopLoad();
    std::size_t partial = store.rows().size();
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, 2000u);
    EXPECT_EQ(store.statusLine(), "\tLoading stopped for group: Big");
    EXPECT_EQ(store.checkAdd().status, StoreStatus::NotFullyLoaded);
    EXPECT_EQ(store.checkExport().status, StoreStatus::NotFullyLoaded) << "a part is no export";
    EXPECT_EQ(store.addRecipient(entry("n@x.com")).message,
              "Sorry, cannot add as group is not fully loaded.");
    EXPECT_EQ(store.modifyRecipient("u0@x.com", entry("n@x.com")).message,
              "Sorry, cannot modify as group is not fully loaded.");
    EXPECT_EQ(store.paste(line("n@x.com")).message,
              "Sorry, cannot paste as group is not fully loaded.");
    // Status changes and deletes act on the lines they name, even in a partial load.
    ASSERT_TRUE(store.setRecipientStatus("u1@x.com", RecipientStatus::Disabled).ok());
    EXPECT_EQ(group("Big").substr(0, 2 * line("u0@x.com").size()),
              line("u0@x.com") + line("u1@x.com", "", 'D'));
    std::string big = group("Big");
    EXPECT_EQ(std::count(big.begin(), big.end(), '\n'), 2000);

    ASSERT_TRUE(store.load("Big").ok());  // a full load lifts the refusals
    EXPECT_TRUE(store.checkAdd().ok());
    EXPECT_TRUE(store.checkExport().ok());
    EXPECT_TRUE(store.addRecipient(entry("n@x.com")).ok());
}

TEST_F(Store, StatusLineShortensLongNames) {
    EXPECT_EQ(store.statusLine(), "\tGroup:\t\tRecipients:");
    std::string name = "Abcdefghijklmnopqrstuvwxyz";              // 26 characters
    writeGroup(name, line("a@x.com") + "b@x.com,,,,,,,,,,,,,E");  // last line without end
    ASSERT_TRUE(store.load(name).ok());
    EXPECT_EQ(store.statusLine(), "\tGroup: Abcdefghijklmnopqrstuv...\t\tRecipients: 2");
    writeGroup("Short", line("a@x.com") + "  not an address ");
    ASSERT_TRUE(store.load("Short").ok());
    EXPECT_EQ(store.statusLine(), "\tGroup: Short\t\tRecipients: 1");
}

// A second writer's change is picked up before this store writes, so neither is lost.
TEST_F(Store, ChangesOfAnotherWriterAreKept) {
    writeGroup("G", line("a@x.com"));
    GroupStore other(paths);
    ASSERT_TRUE(store.load("G").ok());
    ASSERT_TRUE(other.load("G").ok());
    ASSERT_TRUE(other.addRecipient(entry("b@x.com")).ok());
    EXPECT_EQ(store.addRecipient(entry("b@x.com")).status, StoreStatus::EmailExists);
    ASSERT_TRUE(store.setRecipientStatus("a@x.com", RecipientStatus::Disabled).ok());
    ASSERT_TRUE(other.deleteRecipient("b@x.com").ok());
    EXPECT_EQ(store.deleteRecipient("b@x.com").status, StoreStatus::RecipientNotFound);
    EXPECT_EQ(group("G"), line("a@x.com", "", 'D'));
}

// Two processes, one appending and one rewriting the same group, lose nothing: without the
// lock, an append landing between the rewrite's read and its rename vanishes.
TEST_F(Store, TwoProcessesWritingOneGroupLoseNothing) {
    constexpr int kAdds = 150, kToggles = 150;
    writeGroup("G", line("fixed@x.com"));
    auto child = [&](auto body) {
        pid_t pid = ::fork();
        if (pid == 0) {
            GroupStore s(paths);
            bool ok = s.load("G").ok() && body(s);
            ::_exit(ok ? 0 : 1);
        }
        return pid;
    };
    pid_t adder = child([](GroupStore& s) {
        for (int i = 0; i < kAdds; ++i)
            if (!s.addRecipient(entry("n" + std::to_string(i) + "@x.com")).ok()) return false;
        return true;
    });
    pid_t toggler = child([](GroupStore& s) {
        for (int i = 0; i < kToggles; ++i) {
            auto st = i % 2 ? RecipientStatus::Enabled : RecipientStatus::Disabled;
            if (!s.setRecipientStatus("fixed@x.com", st).ok()) return false;
        }
        return true;
    });
    for (pid_t pid : {adder, toggler}) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_TRUE(store.load("G").ok());
    EXPECT_EQ(store.rows().size(), std::size_t(kAdds + 1));
    for (int i = 0; i < kAdds; ++i)
        EXPECT_TRUE(store.recipient("n" + std::to_string(i) + "@x.com")) << i;
    EXPECT_EQ(store.recipient("fixed@x.com")->status, RecipientStatus::Enabled);
}

// A write must wait for a switch to a saved list under way: landing in the set being put aside,
// it would vanish with it.
TEST_F(Store, WriteWaitsForASwitchUnderWay) {
    writeGroup("G", line("fixed@x.com"));
    ASSERT_TRUE(store.load("G").ok());
    auto folder = std::make_unique<GroupFolderLock>(paths, GroupFolderLock::Mode::Exclusive);
    ASSERT_TRUE(folder->held());
    std::thread writer([&] { EXPECT_TRUE(store.addRecipient(entry("new@x.com")).ok()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(group("G"), line("fixed@x.com")) << "written during the switch";
    folder.reset();
    writer.join();
    EXPECT_EQ(group("G"), line("fixed@x.com") + line("new@x.com"));
}

TEST_F(Store, RecipientEntryChecksInOrder) {
    struct Case {
        const char* name;
        std::function<void(Recipient&)> set;
        const char* message;
    } cases[] = {
        {"no email", [](Recipient& r) { r.email = "  "; },
         "Please enter recipients email address."},
        {"bad email", [](Recipient& r) { r.email = "a@b"; }, "Email address entered is not valid."},
        {"digit in name", [](Recipient& r) { r.name = "Ann2"; },
         "Recipient's name can contain only alphabets."},
        {"comma in title", [](Recipient& r) { r.title = "Dr,"; },
         "Recipient's title can contain only alphabets."},
        {"letter in telephone", [](Recipient& r) { r.telephone = "12a"; },
         "Telephone number entered is not valid."},
        {"fax", [](Recipient& r) { r.fax = "1.2"; }, "Fax number entered is not valid."},
        {"mobile", [](Recipient& r) { r.mobile = "x"; }, "Mobile number entered is not valid."},
        {"zip", [](Recipient& r) { r.zip = "AB1"; }, "Zip code entered is not valid."},
        {"name too long", [](Recipient& r) { r.name = std::string(101, 'a'); },
         "Name is longer than 100 characters."},
    };
    for (const auto& c : cases) {
        Recipient typed;
        typed.email = " a@x.com ";
        c.set(typed);
        EXPECT_EQ(checkRecipientEntry(typed).result.message, c.message) << c.name;
    }
    Recipient typed;
    typed.email = " a@x.com ";
    typed.address1 = " 1, 5%\nB ";  // 7 characters after trimming
    typed.company = "Smith, Jones";
    typed.status = RecipientStatus::Disabled;
    EntryCheck check = checkRecipientEntry(typed);
    ASSERT_TRUE(check.result.ok());
    EXPECT_TRUE(check.askShortAddress);
    EXPECT_EQ(formatStoredLine(check.record), "a@x.com,,,1%2A 5%2B%0AB,,Smith\xB8 Jones,,,,,,,,E");
    typed.address1 = "";
    EXPECT_FALSE(checkRecipientEntry(typed).askShortAddress);
}

TEST_F(Store, GroupSetSavedStateAndQuestions) {
    EXPECT_FALSE(store.saveQuestion());  // no groups: nothing to ask
    ASSERT_TRUE(store.createGroup("A").ok());
    EXPECT_EQ(store.saveQuestion(), "Do you want to save this data first?");
    EXPECT_EQ(store.save().status, StoreStatus::NeedsFileName);
    ASSERT_TRUE(store.saveAs(dir.file("set")).ok());
    EXPECT_EQ(store.currentListFile(), dir.file("set.hvt"));
    EXPECT_TRUE(store.saved());
    EXPECT_FALSE(store.saveQuestion());
    ASSERT_TRUE(store.createGroup("B").ok());
    EXPECT_EQ(store.saveQuestion(),
              "Do you want to save changes made to \"" + dir.file("set.hvt") + "\" first?");
    ASSERT_TRUE(store.newSet().ok());
    EXPECT_TRUE(store.groups().empty());
    EXPECT_EQ(store.currentListFile(), "");
    ASSERT_TRUE(store.openSet(dir.file("set.hvt")).ok());
    EXPECT_EQ(store.groups(), std::vector<std::string>{"A"});
    EXPECT_TRUE(store.saved());
    dir.write("junk.hvt", "junk");
    EXPECT_EQ(store.openSet(dir.file("junk.hvt")).message, "Unsupported file format.");
    EXPECT_EQ(store.groups(), std::vector<std::string>{"A"});
}

}  // namespace
}  // namespace qm
