// Delivery reports, the report screen's logic and outbox files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "config/paths.h"
#include "delivery/delivery_report.h"
#include "groups/recipient.h"
#include "scheduler/outbox.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(DeliveryReportTest, RunLeavesReportsTheScreenReadsBack) {
    test::TempDir dir;
    Paths paths(dir.path());
    appendReportLine(paths, "<General>", "a@x.test", "Sent");
    appendReportLine(paths, "<General>", "b@x.test",
                     "Email fail <Hi, there>: 550:SMTP server error");
    appendReportLine(paths, "Friends", "c@x.test", "Sent");

    auto groups = reportGroups(paths);
    std::sort(groups.begin(), groups.end());
    EXPECT_EQ(groups, (std::vector<std::string>{"<General>", "Friends"}));
    EXPECT_EQ(dir.read("GroupOutput/_1.sbz"),
              "a@x.test,Sent\r\nb@x.test,Email fail <Hi, there>: 550:SMTP server error\r\n");

    auto rows = readReportRows(paths, "<General>");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].address, "b@x.test");
    EXPECT_EQ(rows[1].status,
              "Email fail <Hi, there>: 550:SMTP server error");  // split at first ","

    deleteReports(paths);
    EXPECT_TRUE(reportGroups(paths).empty());
    EXPECT_TRUE(readReportRows(paths, "Friends").empty());
}

TEST(DeliveryReportTest, ParseIgnoresTextAfterLastLineEnd) {
    auto rows = parseReport("a@x,Sent\r\nno comma\r\ntail,without end");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].address, "no comma");
    EXPECT_EQ(rows[1].status, "");
}

// A status taken from a server reply that spans lines stays one row.
TEST(DeliveryReportTest, LineEndsInAResultStayInItsRow) {
    const std::string text =
        formatReportLine("a@x.com", "550-first\r\n550 second, last") + formatReportLine("b\n", "");
    auto rows = parseReport(text);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, "a@x.com");
    EXPECT_EQ(rows[0].status, "550-first  550 second, last");
    EXPECT_EQ(rows[1].address, "b ");
}

TEST(DeliveryReportTest, UndeliveredListFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/failed", "/tmp/failed.txt"},
        {"/tmp/failed.txt", "/tmp/failed.txt"},
        {"/tmp/failed.txt.txt", "/tmp/failed.txt.txt"},
        {"/tmp/failed.TXT", "/tmp/failed.TXT.txt"},
    };
    for (const auto& [typed, want] : cases) EXPECT_EQ(undeliveredListFileName(typed), want);
}

TEST(DeliveryReportTest, SaveUndeliveredList) {
    test::TempDir dir;
    std::string message;
    ASSERT_TRUE(
        saveUndeliveredList(dir.file("u.txt"), {"a@x", "b@x"}, {"r1", "r2, more"}, &message));
    EXPECT_EQ(dir.read("u.txt"), "a@x,r1\r\nb@x,r2, more\r\n");
    EXPECT_FALSE(saveUndeliveredList(dir.file("none/u.txt"), {"a@x"}, {"r"}, &message));
    EXPECT_EQ(message, "Failed to save data.");
}

OutboxRun sampleRun() {
    OutboxRun run;
    run.senderName = "Ann";
    run.senderAddress = "ann@x.test";
    run.recipients = "a@x.test;b@x.test";
    run.subject = "Spring";
    run.body = "<p>Hello</p>\r\nBye";
    run.attachments = {"/tmp/a.png", "/tmp/b.pdf"};
    run.html = true;
    run.embeddedFlags = "yn";
    return run;
}

TEST(OutboxTest, FileFormat) {
    EXPECT_EQ(buildOutbox(sampleRun()),
              "~!~SenderInformation\r\nAnn\r\n~***~ann@x.test\r\n~!~Recievers\r\n"
              "a@x.test;b@x.test\r\n~!~Content\r\nSpring\r\n<p>Hello</p>\r\nBye~***~\r\n"
              "/tmp/a.png;/tmp/b.pdf\r\ntrue\r\nyn");
}

void expectSame(const OutboxRun& a, const OutboxRun& b) {
    EXPECT_EQ(a.senderName, b.senderName);
    EXPECT_EQ(a.senderAddress, b.senderAddress);
    EXPECT_EQ(a.recipients, b.recipients);
    EXPECT_EQ(a.subject, b.subject);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(a.attachments, b.attachments);
    EXPECT_EQ(a.html, b.html);
    EXPECT_EQ(a.embeddedFlags, b.embeddedFlags);
}

TEST(OutboxTest, EveryBodyRoundTrips) {
    std::vector<std::string> bodies = {
        "",
        "~***~\r\n",
        "before~***~\r\nafter",
        "~***!",
        "~***!!~",
        "~***",
        "~***~***~\r\n",
        "end with ~***~",
        "~!~Content\r\n",
        "\r\n",
        "~***~\r\n~***~\r\n",
    };
    std::mt19937 rng(7);
    const char alphabet[] = "~*!\r\na";
    for (int i = 0; i < 2000; ++i) {
        std::string s(rng() % 24, ' ');
        for (char& c : s) c = alphabet[rng() % 6];
        bodies.push_back(s);
    }
    for (const auto& body : bodies) {
        OutboxRun run = sampleRun();
        run.body = body;
        OutboxRun back;
        ASSERT_TRUE(parseOutbox(buildOutbox(run), back)) << body;
        ASSERT_EQ(back.body, body);
    }
    // Bodies without the marker are stored unchanged, so files written before read the same.
    OutboxRun plain = sampleRun();
    EXPECT_NE(buildOutbox(plain).find(plain.body + "~***~\r\n"), std::string::npos);
}

TEST(OutboxTest, WriteAndReadBackWithDistinctNamesInOneSecond) {
    test::TempDir dir;
    Paths paths(dir.path());
    const std::time_t when = 1767225600;  // any fixed second
    std::string first = writeOutbox(paths, sampleRun(), when);
    std::string second = writeOutbox(paths, sampleRun(), when);
    ASSERT_NE(first, "error");
    ASSERT_NE(second, "error");
    EXPECT_NE(first, second);
    EXPECT_EQ(first, paths.outbox() + "/" + outboxFileName(when));
    EXPECT_EQ(second.substr(second.size() - 5), "_2.ml");
    OutboxRun back;
    ASSERT_TRUE(readOutbox(second, back));
    expectSame(back, sampleRun());
    EXPECT_EQ(outboxRecipientList(back.recipients),
              (std::vector<std::string>{"a@x.test", "b@x.test"}));
}

TEST(OutboxTest, FileNameStamp) {
    // "%y%j%H%M%S" in local time: two-digit year, day of the year, time.
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 1;
    tm.tm_mday = 3;
    tm.tm_hour = 4;
    tm.tm_min = 5;
    tm.tm_sec = 6;
    tm.tm_isdst = -1;
    EXPECT_EQ(outboxFileName(std::mktime(&tm)), "EmailFile26034040506.ml");
}

TEST(OutboxTest, UnwritableFolderGivesError) {
    test::TempDir dir;
    dir.write("file", "x");
    Paths paths(dir.file("file"));  // data root below a plain file
    EXPECT_EQ(writeOutbox(paths, sampleRun(), 0), "error");
}

TEST(OutboxTest, MalformedFilesAreRefused) {
    std::string good = buildOutbox(sampleRun());
    OutboxRun out;
    EXPECT_FALSE(parseOutbox("", out));
    EXPECT_FALSE(parseOutbox(good.substr(0, good.find("~***~\r\n")), out));  // no body end
    std::string noMarks = good;
    noMarks.replace(0, 5, "x!~Se");
    EXPECT_FALSE(parseOutbox(noMarks, out));
}

TEST(OutboxTest, RecipientListRule) {
    auto member = [](std::string email, char status) {
        Recipient r;
        r.email = std::move(email);
        r.status = statusFromLetter(std::string(1, status));
        return r;
    };
    std::vector<std::vector<Recipient>> groups = {
        {member("a@x.test", 'E'), member("c@x.test", 'E'), member("d@x.test", 'D'),
         member("e@x.test", 'U')},
        {member("c@x.test", 'E'), member("f@x.test", 'E')},
    };
    EXPECT_EQ(buildOutboxRecipients({"a@x.test", "b@x.test"}, groups),
              "a@x.test;b@x.test;c@x.test;f@x.test");
    EXPECT_EQ(buildOutboxRecipients({}, groups), "a@x.test;c@x.test;f@x.test");
    // An address inside another one is still a different recipient.
    EXPECT_EQ(buildOutboxRecipients({"bob@x.test"},
                                    {{member("ob@x.test", 'E'), member("bob@x.test", 'E')}}),
              "bob@x.test;ob@x.test");
}

}  // namespace
}  // namespace qm
