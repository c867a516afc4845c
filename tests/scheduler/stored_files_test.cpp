// A stored campaign's own files: copies made when it is stored, named apart when names clash,
// refused whole when one cannot be made, removed with the entry, and killed at every step of the
// copy. Runs stored by older versions keep their paths elsewhere.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/send_log_buffer.h"
#include "scheduler/due_runner.h"
#include "scheduler/outbox.h"
#include "scheduler/schedule.h"
#include "scheduler/schedule_store.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative path -> bytes (folders: "/")

Tree treeOf(const std::string& root) {
    Tree t;
    std::error_code ec;
    if (!fs::exists(root, ec)) return t;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        std::string bytes = "/";
        if (e.is_regular_file()) readFile(e.path().string(), bytes);
        t[rel] = bytes;
    }
    return t;
}

class StoredFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(paths.ensureFolders());
        dir.write("eml/image001.png", "first picture");
        dir.write("eml/offer.pdf", "%PDF offer");
    }
    RunRequest request(std::vector<std::string> files) {
        RunRequest r;
        r.message.senderName = "Ann";
        r.message.senderAddress = "ann@example.test";
        r.message.subject = "Later";
        r.message.format = MessageFormat::Html;
        r.message.body = "<img src=\"image001.png\">";
        EXPECT_EQ(r.message.attachments.addFiles(files), "");
        r.message.attachments.setEmbedded(0);
        r.typed = {"a@x.test"};
        return r;
    }
    ScheduleStoreResult store(const RunRequest& r, const OutboxStepHook& step = {}) {
        return storeCampaign(paths, r, now + 3600, Repetition::None, now, step);
    }
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    const std::time_t now = std::time(nullptr);
};

TEST_F(StoredFiles, StoredRunSendsItsOwnCopiesUntilItIsDeleted) {
    ScheduleStoreResult r =
        store(request({dir.file("eml/image001.png"), dir.file("eml/offer.pdf")}));
    ASSERT_EQ(r.status, ScheduleStoreStatus::Saved) << r.message;
    const std::string folder = outboxFilesFolder(r.entry.outboxPath);
    OutboxRun back;
    ASSERT_TRUE(readOutbox(r.entry.outboxPath, back));
    EXPECT_EQ(back.attachments,
              (std::vector<std::string>{folder + "/image001.png", folder + "/offer.pdf"}));
    EXPECT_EQ(back.embeddedFlags, "yn");

    // The next import rewrites the folder the files came from; the stored run keeps its own.
    dir.write("eml/image001.png", "second picture");
    fs::remove(dir.file("eml/offer.pdf"));
    EXPECT_EQ(treeOf(folder),
              (Tree{{"image001.png", "first picture"}, {"offer.pdf", "%PDF offer"}}));
    EXPECT_EQ(treeOf(paths.outbox()).count(".staging"), 0u);

    ASSERT_EQ(deleteScheduled(paths, r.entry), ScheduleDeleteStatus::Deleted);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(r.entry.outboxPath));
    EXPECT_TRUE(fileExists(dir.file("eml/image001.png")));  // the originals are not the entry's
}

TEST_F(StoredFiles, ClashingNamesAreKeptApart) {
    const std::vector<std::pair<std::string, std::string>> files = {{"a/image001.png", "from a"},
                                                                    {"b/image001.png", "from b"},
                                                                    {"c/2", "a file named 2"},
                                                                    {"d/image001.png", "from d"},
                                                                    {"e/2", "another 2"}};
    OutboxRun run;
    run.recipients = "a@x.test";
    for (const auto& [rel, bytes] : files) {
        dir.write(rel, bytes);
        run.attachments.push_back(dir.file(rel));
    }
    OutboxStore s = storeOutbox(paths, run, now);
    ASSERT_EQ(s.status, OutboxStoreStatus::Written) << s.message;
    OutboxRun back;
    ASSERT_TRUE(readOutbox(s.path, back));
    ASSERT_EQ(back.attachments.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string bytes;
        ASSERT_TRUE(readFile(back.attachments[i], bytes)) << back.attachments[i];
        EXPECT_EQ(bytes, files[i].second) << back.attachments[i];
        // The name the message's inline references use stays the file's own.
        EXPECT_EQ(fileNameOf(back.attachments[i]), fileNameOf(files[i].first));
    }
}

TEST_F(StoredFiles, AFileThatCannotBeCopiedRefusesTheStoreAndLeavesNothing) {
    ASSERT_EQ(store(request({dir.file("eml/offer.pdf")})).status, ScheduleStoreStatus::Saved);
    const Tree before = treeOf(dir.file("qm"));
    const std::string missing = dir.file("eml/image001.png");
    struct Case {
        const char* name;
        std::function<void()> spoil;
    } cases[] = {
        {"missing file", [&] { fs::remove(missing); }},
        {"a folder in its place",
         [&] {
             fs::remove(missing);
             fs::create_directory(missing);
         }},
    };
    for (const Case& c : cases) {
        RunRequest r = request({missing, dir.file("eml/offer.pdf")});
        c.spoil();
        ScheduleStoreResult got = store(r);
        EXPECT_EQ(got.status, ScheduleStoreStatus::CopyFailed) << c.name;
        EXPECT_EQ(got.message.rfind(std::string(kMsgAttachmentNotCopied) + missing, 0), 0u)
            << c.name << ": " << got.message;
        EXPECT_EQ(treeOf(dir.file("qm")), before) << c.name;
        fs::remove_all(missing);
        dir.write("eml/image001.png", "first picture");
    }
}

// A copy that fails part-way (here the file size limit, as a full disk fails a write): the store
// is refused and leaves nothing behind.
TEST_F(StoredFiles, ACopyFailingPartWayLeavesNothing) {
    dir.write("eml/big.bin", std::string(200000, 'b'));
    ASSERT_EQ(store(request({dir.file("eml/offer.pdf")})).status, ScheduleStoreStatus::Saved);
    const Tree before = treeOf(dir.file("qm"));
    const RunRequest r = request({dir.file("eml/image001.png"), dir.file("eml/big.bin")});
    pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            65536, 65536
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ScheduleStoreResult got = store(r);
        const bool refused = got.status == ScheduleStoreStatus::CopyFailed &&
                             got.message.find(dir.file("eml/big.bin")) != std::string::npos;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the store was not refused naming the file";
    EXPECT_EQ(treeOf(dir.file("qm")), before);
}

TEST_F(StoredFiles, OlderRunsKeepTheirPathsAndFilesElsewhere) {
    OutboxRun run;
    run.recipients = "a@x.test";
    run.attachments = {dir.file("eml/image001.png")};
    run.embeddedFlags = "y";
    ScheduleEntry e;
    e.subject = "Old";
    e.savedAt = now;
    e.dueAt = now + 60;
    e.outboxPath = writeOutbox(paths, run, now);  // as an older version wrote it
    ScheduleList list;
    list.add(e, true);
    ASSERT_TRUE(list.save(paths.schedulerFile()));
    OutboxRun back;
    ASSERT_TRUE(readOutbox(e.outboxPath, back));
    EXPECT_EQ(back.attachments, run.attachments);

    // A new store beside it, then the old entry's end: only the old outbox file goes.
    ASSERT_EQ(store(request({dir.file("eml/offer.pdf")})).status, ScheduleStoreStatus::Saved);
    ASSERT_EQ(deleteScheduled(paths, e), ScheduleDeleteStatus::Deleted);
    EXPECT_FALSE(fileExists(e.outboxPath));
    EXPECT_EQ(treeOf(dir.file("eml")),
              (Tree{{"image001.png", "first picture"}, {"offer.pdf", "%PDF offer"}}));
    EXPECT_EQ(outboxFilesFolder("error"), "");
    EXPECT_EQ(outboxFilesFolder("/x/OutBox/EmailFile1.ml"), "/x/OutBox/EmailFile1.files");
}

// Deleted while its run sends: the copies stay for the rest of the run and go when it completes
// (here the completion of a run that was killed, at the runner's next start).
TEST_F(StoredFiles, DeletedDuringItsRunTheCopiesGoWhenTheRunCompletes) {
    ScheduleStoreResult r = store(request({dir.file("eml/image001.png")}));
    ASSERT_EQ(r.status, ScheduleStoreStatus::Saved) << r.message;
    const std::string folder = outboxFilesFolder(r.entry.outboxPath);
    dir.write("qm/ProgramData/QMK/Scheduler_Running.txt", formatScheduleLine(r.entry) + "\r\n");
    ASSERT_EQ(DueRunner::markerPath(paths), dir.file("qm/ProgramData/QMK/Scheduler_Running.txt"));
    ASSERT_EQ(deleteScheduled(paths, r.entry), ScheduleDeleteStatus::Deleted);
    EXPECT_FALSE(fileExists(r.entry.outboxPath));
    EXPECT_EQ(treeOf(folder), (Tree{{"image001.png", "first picture"}}));

    SendLogBuffer log;
    DueRunner runner(paths, log);
    DueRunOptions o;
    o.now = [this] { return now; };
    EXPECT_EQ(runner.runDue(o).recovered, 1);
    EXPECT_FALSE(fs::exists(folder));
}

// A store killed after each step of its copy: afterwards the outbox holds no entry folder or a
// whole one, and the schedule names the entry only when all is in place. The next store clears
// the staging folder a killed copy left.
TEST_F(StoredFiles, StoreKilledAtEveryStepLeavesNoHalfFolder) {
    const std::vector<std::string> files = {dir.file("eml/image001.png"),
                                            dir.file("eml/offer.pdf")};
    const Tree whole = {{"image001.png", "first picture"}, {"offer.pdf", "%PDF offer"}};
    const std::vector<std::string> steps = {"copied", "copied", "staged", "placed"};
    for (std::size_t k = 0; k <= steps.size(); ++k) {
        SCOPED_TRACE("killed after step " + std::to_string(k));
        fs::remove_all(paths.outbox());
        fs::remove(paths.schedulerFile());
        const RunRequest r = request(files);
        pid_t pid = ::fork();
        if (pid == 0) {
            std::size_t seen = 0;
            store(r, [&](std::string_view) {
                if (++seen == k) ::raise(SIGKILL);
            });
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_EQ(WIFSIGNALED(status), k > 0);

        ScheduleList list;
        list.load(paths.schedulerFile());
        int folders = 0;
        for (const auto& e : fs::directory_iterator(paths.outbox())) {
            const std::string name = e.path().filename().string();
            if (!e.is_directory() || name.rfind(".staging-", 0) == 0) continue;
            ++folders;
            EXPECT_EQ(treeOf(e.path().string()), whole) << name;
        }
        EXPECT_LE(folders, 1);
        if (list.count() == 1) {
            EXPECT_EQ(k, 0u);
            OutboxRun back;
            ASSERT_TRUE(readOutbox(list.at(0).outboxPath, back));
            EXPECT_EQ(treeOf(outboxFilesFolder(list.at(0).outboxPath)), whole);
        }

        // The next store (under the same lock) clears the staging folder a killed copy left.
        ScheduleStoreResult next = store(request(files));
        ASSERT_EQ(next.status, ScheduleStoreStatus::Saved) << next.message;
        for (const auto& e : fs::directory_iterator(paths.outbox())) {
            const std::string name = e.path().filename().string();
            EXPECT_NE(name.rfind(".staging-", 0), 0u) << name;
            if (e.is_directory()) {
                EXPECT_EQ(treeOf(e.path().string()), whole) << name;
            }
        }
    }
}

}  // namespace
}  // namespace qm
