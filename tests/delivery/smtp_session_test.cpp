// Kept SMTP sessions and pipelined transactions against a scripted server that refuses commands
// out of order and judges a pipelined group command by command, as real servers do. One row per
// branch: how many messages share a connection, RSET between them, a 421 mid-session, a refused
// recipient inside a pipelined group, a 354 that must get a lone dot, an idle or dropped session.
#include <gtest/gtest.h>

#include <atomic>

#include "delivery/send_log_buffer.h"
#include "delivery/smtp_session.h"
#include "fake_server.h"
#include "support/timeouts.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::acceptNext;
using test::expect;
using test::FakeServer;
using test::send;
using test::ServerStep;
using Script = std::vector<ServerStep>;
using Kind = DeliveryOutcome::Kind;

const std::string kData = "Subject: t\r\n\r\nhi\r\n.\r\n";

Script operator+(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Script greet(bool pipelining) {
    return {send("220 fake ESMTP\r\n"), expect("EHLO \r\n"),
            send(pipelining ? "250-fake\r\n250-PIPELINING\r\n250 8BITMIME\r\n"
                            : "250-fake\r\n250 8BITMIME\r\n")};
}

const Script kQuit = {expect("QUIT\r\n"), send("221 bye\r\n")};
const Script kRset = {expect("RSET\r\n"), send("250 ok\r\n")};

std::string mailRcpt(const std::string& rcpt) {
    return "MAIL From: <a@x.test>\r\nRCPT TO: <" + rcpt + ">\r\n";
}

// One message, one command at a time.
Script lockStep(const std::string& rcpt, std::string endReply = "250 queued\r\n") {
    return {expect("MAIL From: <a@x.test>\r\n"),
            send("250 ok\r\n"),
            expect("RCPT TO: <" + rcpt + ">\r\n"),
            send("250 ok\r\n"),
            expect("DATA\r\n"),
            send("354 go\r\n"),
            expect(kData),
            send(std::move(endReply))};
}

// One message as one pipelined group; the replies arrive together.
Script pipelined(const std::string& rcpt, bool withReset) {
    return {expect((withReset ? "RSET\r\n" : "") + mailRcpt(rcpt) + "DATA\r\n"),
            send(std::string(withReset ? "250 ok\r\n" : "") + "250 ok\r\n250 ok\r\n354 go\r\n"),
            expect(kData), send("250 queued\r\n")};
}

// A pipelined group whose recipient is refused; the server answers DATA with `dataReply`.
Script refusedGroup(const std::string& rcpt, bool withReset, const std::string& dataReply) {
    Script s = {expect((withReset ? "RSET\r\n" : "") + mailRcpt(rcpt) + "DATA\r\n"),
                send(std::string(withReset ? "250 ok\r\n" : "") + "250 ok\r\n550 5.1.1 <" + rcpt +
                     ">: Recipient address rejected\r\n" + dataReply)};
    if (dataReply.front() == '3')
        s = s + Script{expect(".\r\n"), send("554 5.5.1 no recipients\r\n")};
    return s;
}

// Every offer the engine makes of a refused recipient (4), each a group of its own.
Script refusedFourTimes(const std::string& rcpt, bool firstWithReset,
                        const std::string& dataReply) {
    Script s = refusedGroup(rcpt, firstWithReset, dataReply);
    for (int i = 1; i < kSendAttempts; ++i) s = s + refusedGroup(rcpt, true, dataReply);
    return s;
}

struct Row {
    const char* name;
    int perConnection;
    Script script;
    std::vector<std::string> recipients;
    std::vector<Kind> want;
    int wantConnections;
    std::chrono::milliseconds idleLimit = 30s;
};

std::vector<Row> rows() {
    const std::string b = "b@y.test", c = "c@y.test", d = "d@y.test";
    return {
        {"lock-step: three messages over one connection, RSET before each later one",
         10,
         greet(false) + lockStep(b) + kRset + lockStep(c) + kRset + lockStep(d) + kQuit,
         {b, c, d},
         {Kind::Sent, Kind::Sent, Kind::Sent},
         1},
        {"a session ends with QUIT after N messages; the next recipient opens another",
         2,
         greet(false) + lockStep(b) + kRset + lockStep(c) + kQuit + Script{acceptNext()} +
             greet(false) + lockStep(d) + kQuit,
         {b, c, d},
         {Kind::Sent, Kind::Sent, Kind::Sent},
         2},
        {"421 to MAIL mid-session: the recipient goes over a new connection, once",
         10,
         greet(false) + lockStep(b) + kRset +
             Script{expect("MAIL From: <a@x.test>\r\n"), send("421 4.3.2 shutting down\r\n"),
                    acceptNext()} +
             greet(false) + lockStep(c) + kQuit,
         {b, c},
         {Kind::Sent, Kind::Sent},
         2},
        {"421 to the end of data: the refused message is offered again on a new connection",
         10,
         greet(false) + lockStep(b, "421 4.7.0 try again later\r\n") + Script{acceptNext()} +
             greet(false) + lockStep(b) + kQuit,
         {b},
         {Kind::Sent},
         2},
        {"pipelined: MAIL, RCPT, DATA in one write, RSET leads every later group",
         10,
         greet(true) + pipelined(b, false) + pipelined(c, true) + pipelined(d, true) + kQuit,
         {b, c, d},
         {Kind::Sent, Kind::Sent, Kind::Sent},
         1},
        {"pipelined: a refused RCPT in the middle fails that recipient only",
         10,
         greet(true) + pipelined(b, false) +
             refusedFourTimes(c, true, "554 5.5.1 Error: no valid recipients\r\n") + kQuit +
             Script{acceptNext()} + greet(true) + pipelined(d, false) + kQuit,
         {b, c, d},
         {Kind::Sent, Kind::Failed, Kind::Sent},
         2},
        {"pipelined: 354 after a refused RCPT gets a lone dot, never the message",
         10,
         greet(true) + refusedFourTimes(c, false, "354 go ahead\r\n") + kQuit,
         {c},
         {Kind::Failed},
         1},
        {"421 inside a pipelined group: a new connection carries the message",
         10,
         greet(true) + pipelined(b, false) +
             Script{expect("RSET\r\n" + mailRcpt(c) + "DATA\r\n"),
                    send("250 ok\r\n421 4.3.2 closing\r\n"), acceptNext()} +
             greet(true) + pipelined(c, false) + kQuit,
         {b, c},
         {Kind::Sent, Kind::Sent},
         2},
        {"a session idle past its limit is ended and a new one opened",
         10,
         greet(false) + lockStep(b) + kQuit + Script{acceptNext()} + greet(false) + lockStep(c) +
             kQuit,
         {b, c},
         {Kind::Sent, Kind::Sent},
         2,
         0ms},
        {"a kept session the server dropped: reopened without losing the recipient",
         10,
         greet(false) + lockStep(b) + Script{acceptNext()} + greet(false) + lockStep(c) + kQuit,
         {b, c},
         {Kind::Sent, Kind::Sent},
         2},
    };
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class SmtpSessionTest : public ::testing::TestWithParam<Row> {};

TEST_P(SmtpSessionTest, KeepsEveryRecipientOnceAndTheServerInStep) {
    const Row& row = GetParam();
    FakeServer server(row.script);
    DeliveryTarget target;
    target.settings.mxMode = false;
    target.settings.server = "127.0.0.1";
    target.settings.port = static_cast<unsigned>(server.port());
    target.settings.perConnection = row.perConnection;
    target.timeouts = SmtpTimeouts::uniform(test::kPatient);
    SendLogBuffer log;
    std::atomic<bool> running{true};
    std::vector<DeliveryOutcome> got;
    int connections = 0;
    {
        SmtpSession session(target, log, 1, nullptr);
        session.setIdleLimit(row.idleLimit);
        for (const auto& rcpt : row.recipients) {
            MimeMessage m;
            m.envelopeSender = "<a@x.test>";
            m.headerBlock = "Subject: t\r\n\r\n";
            m.body = "hi";
            got.push_back(session.deliver(m, rcpt, "t", "a@x.test", running));
        }
        connections = session.connections();
    }
    server.finish();
    EXPECT_EQ(server.mismatch(), "") << server.received();
    ASSERT_EQ(got.size(), row.want.size());
    std::size_t sent = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, row.want[i]) << row.recipients[i] << ": " << got[i].text;
        if (row.want[i] == Kind::Sent) ++sent;
        if (row.want[i] == Kind::Failed) {
            EXPECT_NE(got[i].text.find("550"), std::string::npos)
                << "the RCPT refusal is the result: " << got[i].text;
        }
    }
    EXPECT_EQ(connections, row.wantConnections);
    EXPECT_EQ(server.connections(), row.wantConnections);
    // Messages that went out whole: one per sent recipient, plus any refused at the end of data.
    std::size_t messages = 0;
    for (std::size_t at = 0; (at = server.received().find(kData, at)) != std::string::npos; ++at)
        ++messages;
    const bool resentAfterRefusal = std::string(row.name).find("end of data") != std::string::npos;
    EXPECT_EQ(messages, sent + (resentAfterRefusal ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpSessionTest, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p && name.size() < 60; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name + "_" + std::to_string(info.index);
                         });

// One message per connection stays the conversation it always was: HELO, no RSET, QUIT.
TEST(SmtpSessionOne, PerConnectionOneKeepsTheSingleMessageConversation) {
    FakeServer server(
        Script{send("220 fake\r\n"), expect("HELO \r\n"), send("250-fake\r\n250 PIPELINING\r\n")} +
        lockStep("b@y.test") + kQuit +
        Script{acceptNext(), send("220 fake\r\n"), expect("HELO \r\n"), send("250 f\r\n")} +
        lockStep("c@y.test") + kQuit);
    DeliveryTarget target;
    target.settings.mxMode = false;
    target.settings.server = "127.0.0.1";
    target.settings.port = static_cast<unsigned>(server.port());
    target.timeouts = SmtpTimeouts::uniform(test::kPatient);
    SendLogBuffer log;
    std::atomic<bool> running{true};
    SmtpSession session(target, log, 1, nullptr);
    for (const char* rcpt : {"b@y.test", "c@y.test"}) {
        MimeMessage m;
        m.envelopeSender = "<a@x.test>";
        m.headerBlock = "Subject: t\r\n\r\n";
        m.body = "hi";
        EXPECT_EQ(session.deliver(m, rcpt, "t", "a@x.test", running).kind, Kind::Sent);
    }
    server.finish();
    EXPECT_EQ(server.mismatch(), "") << server.received();
}

}  // namespace
}  // namespace qm
