// The run journal: torn and damaged tails, what a reader makes of started and ended offers, the
// request record, and a run resumed from a journal that a killed run left behind.
#include "delivery/run_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/send_log_buffer.h"
#include "groups/group_files.h"
#include "support/quota_relay.h"
#include "support/run_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// A journal whose last record is an end; returns its bytes and where the last record begins.
std::pair<std::string, std::size_t> sampleJournal(const std::string& path) {
    auto j = RunJournal::create(path, "request text");
    EXPECT_TRUE(j);
    j->begin(1, "<General>", "a@x.test");
    j->end(1, "<General>", "a@x.test", JournalOutcome::Sent, 250, "Sent");
    j->begin(2, "club", "b@x.test");
    std::string before;
    readFile(path, before);
    j->end(2, "club", "b@x.test", JournalOutcome::Failed, 550, "550:SMTP server error");
    j->sync();
    std::string bytes;
    readFile(path, bytes);
    return {bytes, before.size()};
}

TEST(RunJournal, TornOrDamagedLastRecordIsIgnoredAndTheRestRead) {
    test::TempDir dir;
    auto [bytes, lastStart] = sampleJournal(dir.file("j.qmj"));
    const JournalContents whole = parseJournal(bytes);
    ASSERT_TRUE(whole.valid);
    EXPECT_EQ(whole.request, "request text");
    ASSERT_EQ(whole.ended.size(), 2u);
    EXPECT_EQ(whole.ended[1].replyCode, 550);
    EXPECT_EQ(whole.ended[1].text, "550:SMTP server error");
    EXPECT_TRUE(whole.inDoubt.empty());
    EXPECT_EQ(whole.validBytes, bytes.size());

    // Cut at every byte of the last record: b's offer started and its end is lost.
    for (std::size_t cut = lastStart; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        const JournalContents torn = parseJournal(bytes.substr(0, cut));
        ASSERT_TRUE(torn.valid);
        ASSERT_EQ(torn.ended.size(), 1u);
        EXPECT_EQ(torn.ended[0].address, "a@x.test");
        ASSERT_EQ(torn.inDoubt.size(), 1u);
        EXPECT_EQ(torn.inDoubt[0].address, "b@x.test");
        EXPECT_EQ(torn.inDoubt[0].slot, 2);
        EXPECT_EQ(torn.validBytes, lastStart);
    }
    // A flipped byte anywhere in the last record fails its checksum the same way.
    for (std::size_t at = lastStart; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
        const JournalContents read = parseJournal(damaged);
        EXPECT_EQ(read.ended.size(), 1u) << at;
        EXPECT_EQ(read.inDoubt.size(), 1u) << at;
    }
    // Not a journal at all, or one cut inside its request: nothing to resume.
    for (std::string_view junk : {std::string_view(), std::string_view("QMRUNJ1"),
                                  std::string_view(bytes).substr(0, 20), std::string_view("x")})
        EXPECT_FALSE(parseJournal(junk).valid);
}

TEST(RunJournal, ReopenCutsTheTornTailAndAppendsAfterTheLastWholeRecord) {
    test::TempDir dir;
    const std::string path = dir.file("j.qmj");
    auto [bytes, lastStart] = sampleJournal(path);
    dir.write("j.qmj", bytes.substr(0, bytes.size() - 3));
    JournalContents first;
    ASSERT_TRUE(readJournal(path, first));
    auto j = RunJournal::reopen(path, first.validBytes);
    ASSERT_TRUE(j);
    j->end(2, "club", "b@x.test", JournalOutcome::InDoubt, 0, kStatusMayHaveBeenDelivered);
    j->begin(3, "club", "c@x.test");
    j->withdraw(3, "club", "c@x.test");
    j.reset();
    JournalContents again;
    ASSERT_TRUE(readJournal(path, again));
    ASSERT_EQ(again.ended.size(), 2u);
    EXPECT_EQ(again.ended[1].outcome, JournalOutcome::InDoubt);
    EXPECT_TRUE(again.inDoubt.empty());  // the withdrawn offer is no one's doubt
    EXPECT_EQ(again.sent(), 1u);
    EXPECT_EQ(again.failed(), 1u);
}

TEST(RunJournal, RequestRecordKeepsWhatAResumeSends) {
    RunRequest r = test::plainRunRequest(2525, {"a@x.test", "b@x.test"}, {"club", "gone"});
    r.message.subject = std::string("Line\nbreak and \0 zero", 21);
    r.message.unsubscribeAddress = "off@x.test";
    r.message.unsubscribeScope = UnsubscribeScope::AllGroups;
    r.delivery.password = "secret";
    r.delivery.userName = "ann";
    r.delivery.authenticate = true;
    r.delivery.security = ConnectionSecurity::StartTls;
    r.delivery.threadCount = 15;
    r.delivery.perConnection = 10;
    r.delivery.rate = SendRate{300, RateUnit::Hour};
    r.mxPort = 2526;
    const std::vector<std::pair<std::string, std::string>> texts{{"club", "c@x.test\r\n"}};
    const std::string record = encodeRunRequest(r, texts);
    EXPECT_EQ(record.find("secret"), std::string::npos);

    RunRequest back;
    std::vector<std::pair<std::string, std::string>> backTexts;
    ASSERT_TRUE(decodeRunRequest(record, back, backTexts));
    EXPECT_EQ(back.message.subject, r.message.subject);
    EXPECT_EQ(back.message.body, r.message.body);
    EXPECT_EQ(back.message.format, MessageFormat::PlainText);
    EXPECT_TRUE(back.message.useDynamicVariables);
    EXPECT_EQ(back.message.unsubscribeScope, UnsubscribeScope::AllGroups);
    EXPECT_EQ(back.typed, r.typed);
    EXPECT_EQ(back.groups, r.groups);
    EXPECT_EQ(backTexts, texts);
    EXPECT_EQ(back.delivery.server, "127.0.0.1");
    EXPECT_EQ(back.delivery.port, 2525u);
    EXPECT_EQ(back.delivery.security, ConnectionSecurity::StartTls);
    EXPECT_EQ(back.delivery.threadCount, 15);
    EXPECT_EQ(back.delivery.perConnection, 10);
    EXPECT_EQ(back.delivery.rate, r.delivery.rate);
    EXPECT_EQ(back.delivery.password, "");
    EXPECT_EQ(back.mxPort, 2526);

    // Any cut of the record is refused, never read as a shorter request.
    for (std::size_t cut = 0; cut < record.size(); cut += 7) {
        RunRequest part;
        EXPECT_FALSE(decodeRunRequest(record.substr(0, cut), part, backTexts)) << cut;
    }
}

class Collect : public test::RunEndings {
  public:
    void result(const SendResult& r) override {
        std::lock_guard g(m_);
        results[r.group + "/" + r.address].push_back(r.text);
    }
    std::map<std::string, std::vector<std::string>> results;
};

std::map<std::string, std::string> reportOf(const Paths& paths, std::string_view group) {
    std::map<std::string, std::string> rows;
    for (const ReportRow& row : readReportRows(paths, group)) {
        EXPECT_TRUE(rows.emplace(row.address, row.status).second) << "twice: " << row.address;
    }
    return rows;
}

// A run killed after a, with b's offer started and never ended, and the group file edited since:
// the resume offers only the others, from the members the run first read, and reports everyone
// of the whole run once.
TEST(RunJournal, ResumedRunOffersOnlyWhatTheJournalLeftOpen) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    test::QuotaRelay relay(1000000, 0ms);

    RunRequest first =
        test::plainRunRequest(relay.port(), {"a@x.test", "b@x.test", "c@x.test"}, {"club"});
    const std::vector<std::pair<std::string, std::string>> texts{
        {"club", "m1@x.test,Member,,,,,,,,,,,,E\r\nm2@x.test,Member,,,,,,,,,,,,E\r\n"}};
    const std::string path = newJournalPath(paths);
    {
        auto j = RunJournal::create(path, encodeRunRequest(first, texts));
        ASSERT_TRUE(j);
        j->begin(1, "<General>", "a@x.test");
        j->end(1, "<General>", "a@x.test", JournalOutcome::Sent, 250, "Sent");
        j->begin(2, "<General>", "b@x.test");
    }
    ASSERT_TRUE(
        writeFileAtomic(groupFilePath(paths, "club"), "edited@x.test,Member,,,,,,,,,,,,E\r\n"));
    EXPECT_EQ(listJournals(paths), std::vector<std::string>{path});

    auto contents = std::make_shared<JournalContents>();
    ASSERT_TRUE(readJournal(path, *contents));
    RunRequest again;
    ASSERT_TRUE(decodeRunRequest(contents->request, again, again.groupTexts));
    again.resumePath = path;
    again.resumed = contents;

    SendLogBuffer log;
    Collect seen;
    {
        CampaignRun run(paths, log, seen);
        ASSERT_TRUE(run.start(std::move(again)));
        run.wait();
    }
    relay.stop();
    std::vector<std::string> delivered = relay.delivered;
    std::sort(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered, (std::vector<std::string>{"c@x.test", "m1@x.test", "m2@x.test"}));

    ASSERT_EQ(seen.endings, std::vector<std::string>{"finished"});
    EXPECT_EQ(seen.summary.sent, 4u);
    EXPECT_EQ(seen.summary.failed, 1u);
    const std::map<std::string, std::string> general = reportOf(paths, kGeneralGroup);
    EXPECT_EQ(general, (std::map<std::string, std::string>{
                           {"a@x.test", "Sent"},
                           {"b@x.test", std::string(kStatusMayHaveBeenDelivered)},
                           {"c@x.test", "Sent"}}));
    EXPECT_EQ(reportOf(paths, "club"),
              (std::map<std::string, std::string>{{"m1@x.test", "Sent"}, {"m2@x.test", "Sent"}}));
    for (const auto& [who, texts] : seen.results) EXPECT_EQ(texts.size(), 1u) << who;
    EXPECT_EQ(seen.results.size(), 5u);
    // The run is over: nothing left to resume.
    EXPECT_TRUE(listJournals(paths).empty());
}

// Every run keeps a journal while it sends, and only a run that could not finish leaves it.
TEST(RunJournal, RunLeavesItsJournalOnlyWhenItCouldNotFinish) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    SendLogBuffer log;
    {
        test::QuotaRelay relay(1000000, 0ms);
        test::RunEndings ends;
        CampaignRun run(paths, log, ends);
        ASSERT_TRUE(run.start(test::plainRunRequest(relay.port(), {"a@x.test"})));
        run.wait();
        EXPECT_TRUE(listJournals(paths).empty());
    }
    // A relay that is not there: the run ends at its first recipient and can be resumed later,
    // with that recipient still to be offered.
    int closedPort;
    {
        test::QuotaRelay gone(1, 0ms);
        closedPort = gone.port();
    }
    test::RunEndings ends;
    CampaignRun run(paths, log, ends);
    RunRequest r = test::plainRunRequest(closedPort, {"a@x.test", "b@x.test"});
    r.timeouts = SmtpTimeouts::uniform(2s);
    ASSERT_TRUE(run.start(std::move(r)));
    run.wait();
    ASSERT_EQ(ends.endings.size(), 1u);
    EXPECT_EQ(ends.endings[0].rfind("relay:", 0), 0u);
    const std::vector<std::string> left = listJournals(paths);
    ASSERT_EQ(left.size(), 1u);
    JournalContents j;
    ASSERT_TRUE(readJournal(left[0], j));
    EXPECT_TRUE(j.ended.empty());
    EXPECT_TRUE(j.inDoubt.empty());
}

}  // namespace
}  // namespace qm
