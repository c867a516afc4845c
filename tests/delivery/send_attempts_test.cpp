// The send engine's attempts for one recipient against scripted servers that are as strict as real
// ones: a message is offered again only after a well-formed refusal and only after RSET, a reply
// that leaves the message's fate open ends the recipient as "may have been delivered", and the
// result carries the server's real refusal. In MX mode a DNS server that cannot answer fails the
// recipient as a DNS failure instead of sending it to a guessed host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/file_util.h"
#include "config/paths.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/send_log_buffer.h"
#include "fake_dns.h"
#include "fake_server.h"
#include "support/run_support.h"
#include "support/temp_dir.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::closeConnection;
using test::expect;
using test::hold;
using test::readData;
using test::send;
using Script = std::vector<test::ServerStep>;

Script operator+(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Script kGreet = {send("220 strict.test ESMTP\r\n"), expect("HELO \r\n"),
                       send("250 strict.test\r\n")};
const Script kQuit = {expect("QUIT\r\n"), send("221 2.0.0 Bye\r\n")};
const Script kRset = {expect("RSET\r\n"), send("250 2.0.0 Ok\r\n")};

Script mailAndRcpt(std::string rcptReply) {
    return {expect("MAIL From: <ann@example.test>\r\n"), send("250 2.1.0 Ok\r\n"),
            expect("RCPT TO: <a@x.test>\r\n"), send(std::move(rcptReply))};
}

// MAIL, RCPT and DATA taken, the message read; then `endReply`, when there is one.
Script wholeMessage(std::string endReply = {}) {
    Script s =
        mailAndRcpt("250 2.1.5 Ok\r\n") +
        Script{expect("DATA\r\n"), send("354 End data with <CR><LF>.<CR><LF>\r\n"), readData()};
    if (!endReply.empty()) s.push_back(send(std::move(endReply)));
    return s;
}

struct Case {
    const char* name;
    Script script;
    std::string wantStatus;                            // the report's status text
    int wantCopies;                                    // messages the server received whole
    std::optional<SmtpStage> silentAt = std::nullopt;  // where the server holds its reply
};

TEST(SendAttemptsTest, OfferedAgainOnlyAfterARefusalAndRset) {
    const std::string fail = "Email fail <Hello>: ";
    const std::string rcpt550 = "550 5.1.1 <a@x.test>: Recipient address rejected\r\n";
    const Case cases[] = {
        // The server took the message: a second offer would be a second copy in the mailbox.
        {"malformed reply to the end of data",
         kGreet + wholeMessage("250\tOk queued as 1A2B\r\n") + kQuit,
         fail + "Malformed reply while sending end of data -- message may have been delivered", 1},
        {"silence after the end of data", kGreet + wholeMessage() + Script{hold()},
         fail + "Timed out while sending end of data -- message may have been delivered", 1,
         SmtpStage::EndOfData},
        {"connection lost after the end of data",
         kGreet + wholeMessage() + Script{closeConnection()},
         fail + "Lost connection while sending end of data -- message may have been delivered", 1},
        // MAIL inside the open transaction would get 503 and hide the 550.
        {"recipient refused on every try",
         kGreet + mailAndRcpt("450 4.2.0 Greylisted, try again\r\n") + kRset +
             mailAndRcpt(rcpt550) + kRset + mailAndRcpt(rcpt550) + kRset + mailAndRcpt(rcpt550) +
             kQuit,
         fail + "550:SMTP server error", 0},
        {"greylisted once, then taken",
         kGreet + mailAndRcpt("450 4.2.0 Greylisted, try again\r\n") + kRset +
             wholeMessage("250 2.0.0 Ok: queued\r\n") + kQuit,
         "Sent", 1},
        {"end of data refused with 4xx, taken on the next try; split replies",
         kGreet + wholeMessage("451 4.3.0 Try again later\r\n") + kRset +
             mailAndRcpt("250 2.1.5 Ok\r\n") +
             Script{expect("DATA\r\n"), send("35"), send("4 go\r\n"), readData(), send("2"),
                    send("50 2.0.0 Ok: queued\r\n")} +
             kQuit,
         "Sent", 2},
        // The refusal that matters is the recipient's, not the reset's.
        {"RSET refused after a refused recipient",
         kGreet + mailAndRcpt(rcpt550) +
             Script{expect("RSET\r\n"), send("421 4.3.2 Shutting down\r\n")} + kQuit,
         fail + "550:SMTP server error", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        Paths paths{dir.file("qm")};
        ASSERT_TRUE(paths.ensureFolders());
        test::FakeServer server(c.script);
        RunRequest r = test::plainRunRequest(server.port(), {"a@x.test"});
        r.timeouts = c.silentAt ? test::patientExcept<SmtpTimeouts>(*c.silentAt, 2s)
                                : SmtpTimeouts::uniform(test::kPatient);
        SendLogBuffer log;
        test::RunEndings endings;
        {
            CampaignRun run(paths, log, endings);
            ASSERT_TRUE(run.start(std::move(r)));
            run.wait();
        }
        server.finish();
        EXPECT_EQ(server.mismatch(), "");
        EXPECT_EQ(endings.endings, std::vector<std::string>{"finished"});
        auto rows = readReportRows(paths, kGeneralGroup);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].status, c.wantStatus);
        std::size_t copies = 0;
        for (auto p = server.received().find("\r\n.\r\n"); p != std::string::npos;
             p = server.received().find("\r\n.\r\n", p + 1))
            ++copies;
        EXPECT_EQ(copies, static_cast<std::size_t>(c.wantCopies));
    }
}

TEST(SendAttemptsTest, MxLookupThatFailsIsTheRecipientsDnsFailure) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    test::FakeDns dns(test::answering(2));  // SERVFAIL, as for a time-out further up the chain
    dir.write("resolv.conf", "nameserver " + dns.server() + "\nsearch corp.test\n");
    ::setenv("QUILLMARK_RESOLV_CONF", dir.file("resolv.conf").c_str(), 1);
    RunRequest r = test::plainRunRequest(0, {"a@x.test", "b@y.test"});
    r.delivery.mxMode = true;
    r.delivery.server.clear();
    SendLogBuffer log;
    test::RunEndings endings;
    {
        CampaignRun run(paths, log, endings);
        ASSERT_TRUE(run.start(std::move(r)));
        run.wait();
    }
    ::unsetenv("QUILLMARK_RESOLV_CONF");
    EXPECT_EQ(endings.endings, std::vector<std::string>{"finished"});
    auto rows = readReportRows(paths, kGeneralGroup);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].status,
              "Connection fail x.test: MX lookup failed: the DNS server reported a failure");
    EXPECT_EQ(rows[1].status,
              "Connection fail y.test: MX lookup failed: the DNS server reported a failure");
    EXPECT_EQ(endings.summary.failed, 2u);
    std::string logText;
    readFile(paths.sendLog(), logText);
    EXPECT_NE(logText.find("MX lookup failed: the DNS server reported a failure"),
              std::string::npos);
}

}  // namespace
}  // namespace qm
