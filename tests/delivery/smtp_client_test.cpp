// The SMTP client against a scripted server: every protocol branch as one named row, then the
// stage time-outs, then garbage. The server refuses commands out of order as real ones do, so a
// retry without RSET shows up as a mismatch. Real servers (tests/integration) cover the normal
// paths.
#include <gtest/gtest.h>

#include "common/base64.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_client.h"
#include "fake_server.h"
#include "support/timeouts.h"

namespace qm {

// Names instead of numbers in failure messages.
void PrintTo(SmtpFailure f, std::ostream* os) {
    static constexpr const char* kNames[] = {
        "None", "NotConnected", "NoConnection", "NoGreeting", "Refused",        "AuthFailed",
        "Tls",  "BadArgument",  "Malformed",    "TimedOut",   "ConnectionLost", "SocketError",
    };
    *os << kNames[static_cast<int>(f)];
}

namespace {

using namespace std::chrono_literals;
using test::closeConnection;
using test::expect;
using test::FakeServer;
using test::hold;
using test::send;
using test::ServerStep;
using Script = std::vector<ServerStep>;

constexpr std::string_view kHeader = "Subject: t\r\n\r\n";
constexpr std::string_view kBody = ".first\nsecond\r\n.\r\nlast";
const std::string kData = "Subject: t\r\n\r\n..first\r\nsecond\r\n..\r\nlast\r\n.\r\n";

struct Session {
    bool authenticate = false;
    SmtpLogin login = SmtpLogin::Password;
    SmtpSecurity mode = SmtpSecurity::None;
    bool sendMail = false;
    // Offers of the message, as the engine makes them: another only after a refusal that allows
    // one.
    int attempts = 1;
    std::vector<std::string_view> recipients = {"b@y.test"};
};

struct Outcome {
    bool connected = false;
    bool sent = false;
    bool disconnected = false;
    std::string error;
    SmtpFailure failure = SmtpFailure::None;
    bool uncertain = false;
    std::string log;
    std::string received;
    std::string mismatch;
};

Outcome run(const std::function<Script(int port)>& makeScript, const Session& session,
            const SmtpTimeouts& limits = SmtpTimeouts::uniform(test::kPatient)) {
    FakeServer server(makeScript);
    SendLogBuffer log;
    Outcome o;
    {
        SmtpClient client("127.0.0.1", server.port());
        client.setTimeouts(limits);
        client.setHelloDomain("client.test");
        client.setCredentials(session.authenticate, "alice", "s3cret");
        client.setLogin(session.login);
        client.setSecurity({session.mode, false, {}});
        client.setLogSink(1, &log);
        o.connected = client.connect();
        if (o.connected && session.sendMail) {
            SmtpMessage m{"<a@x.test>", session.recipients, kHeader, kBody};
            for (int i = 0; i < session.attempts; ++i) {
                o.sent = client.sendMessage(m);
                if (o.sent || !client.canRetry()) break;
            }
            o.uncertain = !o.sent && client.deliveryUncertain();
        }
        o.error = client.lastError();
        o.failure = client.failure();
        o.disconnected = client.disconnect();
        if (!o.disconnected) o.error = client.lastError();
    }
    server.finish();
    o.log = log.slotText(1);
    o.received = server.received();
    o.mismatch = server.mismatch();
    return o;
}

Outcome run(Script script, const Session& session,
            const SmtpTimeouts& limits = SmtpTimeouts::uniform(test::kPatient)) {
    return run([&script](int) { return std::move(script); }, session, limits);
}

Script greetAndHelo() {
    return {send("220 fake ESMTP\r\n"), expect("HELO \r\n"), send("250 fake\r\n")};
}

Script operator+(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Script kQuit = {expect("QUIT\r\n"), send("221 bye\r\n")};
const Script kAuthPrelude = {expect("EHLO \r\n"), send("250 fake\r\n"), expect("AUTH LOGIN\r\n")};

struct Row {
    const char* name;
    Script script;
    Session session;
    bool wantConnected;
    bool wantSent;
    // Empty: not checked (a recovered failure, such as the 501 to a bare HELO, stays in
    // lastError, which is only read after a false result).
    std::string wantError;
    // Checked when wantError is set.
    SmtpFailure wantFailure = SmtpFailure::Refused;
    bool wantUncertain = false;
};

std::vector<Row> protocolRows() {
    Session mail;
    mail.sendMail = true;
    Session auth;
    auth.authenticate = true;
    Session twoRcpts = mail;
    twoRcpts.recipients = {"b@y.test", "c@y.test"};
    Session starttls;
    starttls.mode = SmtpSecurity::StartTls;
    Session opportunistic;
    opportunistic.mode = SmtpSecurity::Opportunistic;
    Session starttlsAuth = starttls;
    starttlsAuth.authenticate = true;
    const std::string plain =
        "AUTH PLAIN " + base64Encode(std::string("\0alice\0s3cret", 13)) + "\r\n";
    auto ehloOffering = [](std::string lines) {
        return Script{expect("EHLO \r\n"), send(std::move(lines))};
    };
    Session retries = mail;
    retries.attempts = 4;
    Session twoTries = mail;
    twoTries.attempts = 2;
    auto rcptRefused = [](std::string reply) {
        return Script{expect("MAIL From: <a@x.test>\r\n"), send("250 ok\r\n"),
                      expect("RCPT TO: <b@y.test>\r\n"), send(std::move(reply))};
    };
    const Script kRset = {expect("RSET\r\n"), send("250 ok\r\n")};
    const Script toData = greetAndHelo() + Script{expect("MAIL From: <a@x.test>\r\n"),
                                                  send("250 ok\r\n"),
                                                  expect("RCPT TO: <b@y.test>\r\n"),
                                                  send("250 ok\r\n"),
                                                  expect("DATA\r\n"),
                                                  send("354 go\r\n"),
                                                  expect(kData)};
    const std::string user = base64Encode("alice") + "\r\n";
    const std::string pass = base64Encode("s3cret") + "\r\n";

    return {
        {"split greeting and multi-line HELO reply stay in step",
         Script{send("22"), send("0 fake\r\n"), expect("HELO \r\n"), send("250-fake\r\n"),
                send("250-SIZE 100\r"), send("\n250 HELP\r\n"), expect("MAIL From: <a@x.test>\r\n"),
                send("250 ok\r\n"), expect("RCPT TO: <b@y.test>\r\n"), send("250 ok\r\n"),
                expect("DATA\r\n"), send("354 go\r\n"), expect(kData), send("250 queued\r\n")} +
             kQuit,
         mail, true, true, ""},
        {"501 to bare HELO retries with the hello domain",
         Script{send("220 fake\r\n"), expect("HELO \r\n"), send("501 Syntax: HELO hostname\r\n"),
                expect("HELO client.test\r\n"), send("250 fake\r\n")} +
             kQuit,
         {},
         true,
         false,
         ""},
        {"other refusal of HELO ends the attempt with QUIT",
         Script{send("220 fake\r\n"), expect("HELO \r\n"), send("550 go away\r\n")} + kQuit,
         {},
         false,
         false,
         "550:SMTP server error"},
        {"greeting other than 220",
         Script{send("554 busy\r\n")} + kQuit,
         {},
         false,
         false,
         "Server didn't respond.",
         SmtpFailure::NoGreeting},
        {"greeting that is not three digits",
         Script{send("hello there\r\n")} + kQuit,
         {},
         false,
         false,
         "Server didn't respond.",
         SmtpFailure::NoGreeting},
        {"502 to AUTH LOGIN connects without credentials",
         greetAndHelo() + kAuthPrelude + Script{send("502 not here\r\n")} + kQuit, auth, true,
         false, ""},
        {"AUTH LOGIN sends user and password in base64",
         greetAndHelo() + kAuthPrelude +
             Script{send("334 VXNlcm5hbWU6\r\n"), expect(user), send("334 UGFzc3dvcmQ6\r\n"),
                    expect(pass), send("235 ok\r\n")} +
             kQuit,
         auth, true, false, ""},
        {"wrong password gives Authentication Failed",
         greetAndHelo() + kAuthPrelude +
             Script{send("334 VXNlcm5hbWU6\r\n"), expect(user), send("334 UGFzc3dvcmQ6\r\n"),
                    expect(pass), send("535 5.7.8 bad credentials\r\n")} +
             kQuit,
         auth, false, false, "Authentication Failed", SmtpFailure::AuthFailed},
        {"AUTH PLAIN with its initial response when the server lists PLAIN",
         greetAndHelo() + ehloOffering("250-fake\r\n250-PIPELINING\r\n250 AUTH LOGIN PLAIN\r\n") +
             Script{expect(plain), send("235 2.7.0 ok\r\n")} + kQuit,
         auth, true, false, ""},
        {"AUTH= and lower-case mechanisms still mean PLAIN",
         greetAndHelo() + ehloOffering("250-fake\r\n250 auth=login plain\r\n") +
             Script{expect(plain), send("235 2.7.0 ok\r\n")} + kQuit,
         auth, true, false, ""},
        {"LOGIN when the server lists only LOGIN",
         greetAndHelo() + ehloOffering("250-fake\r\n250 AUTH LOGIN\r\n") +
             Script{expect("AUTH LOGIN\r\n"), send("334 VXNlcm5hbWU6\r\n"), expect(user),
                    send("334 UGFzc3dvcmQ6\r\n"), expect(pass), send("235 ok\r\n")} +
             kQuit,
         auth, true, false, ""},
        {"AUTH PLAIN refused gives Authentication Failed",
         greetAndHelo() + ehloOffering("250-fake\r\n250 AUTH PLAIN\r\n") +
             Script{expect(plain), send("535 5.7.8 Authentication credentials invalid\r\n")} +
             kQuit,
         auth, false, false, "Authentication Failed", SmtpFailure::AuthFailed},
        // A server that lists AUTH before TLS must not get the password when TLS was chosen.
        {"STARTTLS chosen, AUTH offered in clear, STARTTLS refused: no AUTH",
         Script{send("220 fake\r\n")} +
             ehloOffering("250-fake\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n") +
             Script{expect("STARTTLS\r\n"), send("454 4.7.0 not now\r\n")} + kQuit,
         starttlsAuth, false, false, "STARTTLS refused by the server (454)", SmtpFailure::Tls},
        {"STARTTLS chosen, only AUTH offered: no AUTH",
         Script{send("220 fake\r\n")} + ehloOffering("250-fake\r\n250 AUTH PLAIN LOGIN\r\n") +
             kQuit,
         starttlsAuth, false, false, "STARTTLS required but not offered by the server",
         SmtpFailure::Tls},
        {"refused recipient stops the list",
         greetAndHelo() +
             Script{expect("MAIL From: <a@x.test>\r\n"), send("250 ok\r\n"),
                    expect("RCPT TO: <b@y.test>\r\n"), send("550 5.1.1 unknown\r\n")} +
             kQuit,
         twoRcpts, true, false, "550:SMTP server error"},
        {"DATA refused",
         greetAndHelo() +
             Script{expect("MAIL From: <a@x.test>\r\n"), send("250 ok\r\n"),
                    expect("RCPT TO: <b@y.test>\r\n"), send("250 ok\r\n"), expect("DATA\r\n"),
                    send("451 later\r\n")} +
             kQuit,
         mail, true, false, "451:SMTP server not ready for data"},
        {"refused recipient: RSET before each new MAIL, the refusal stays",
         greetAndHelo() + rcptRefused("450 4.2.0 greylisted\r\n") + kRset +
             rcptRefused("550 5.1.1 unknown\r\n") + kRset + rcptRefused("550 5.1.1 unknown\r\n") +
             kRset + rcptRefused("550 5.1.1 unknown\r\n") + kQuit,
         retries, true, false, "550:SMTP server error"},
        {"RSET refused ends the session",
         greetAndHelo() + rcptRefused("550 5.1.1 unknown\r\n") +
             Script{expect("RSET\r\n"), send("502 no RSET here\r\n")} + kQuit,
         retries, true, false, "502:SMTP server error"},
        {"4xx to the end of data allows another try, after RSET; split reply",
         toData +
             Script{send("451 4.3.0 try later\r\n"), expect("RSET\r\n"), send("250 ok\r\n"),
                    expect("MAIL From: <a@x.test>\r\n"), send("250 ok\r\n"),
                    expect("RCPT TO: <b@y.test>\r\n"), send("250 ok\r\n"), expect("DATA\r\n"),
                    send("354 go\r\n"), expect(kData), send("25"), send("0 queued\r\n")} +
             kQuit,
         retries, true, true, ""},
        {"5xx to the end of data is a refusal",
         toData +
             Script{send("554 5.7.1 rejected\r\n"), expect("RSET\r\n"), send("250 ok\r\n"),
                    expect("MAIL From: <a@x.test>\r\n"), send("550 go away\r\n")} +
             kQuit,
         twoTries, true, false, "550:SMTP server error"},
        // The server took the message and said so in a way that is not SMTP: never a second copy.
        {"malformed reply to the end of data: QUIT, no other try",
         toData + Script{send("250\tOk queued\r\n")} + kQuit, retries, true, false,
         "Malformed reply while sending end of data -- message may have been delivered",
         SmtpFailure::Malformed, true},
        {"2xx other than 250 to the end of data is no refusal either",
         toData + Script{send("251 2.0.0 odd but taken\r\n")} + kQuit, retries, true, false,
         "Malformed reply while sending end of data -- message may have been delivered",
         SmtpFailure::Malformed, true},
        {"connection lost after the end of data: no other try", toData + Script{closeConnection()},
         retries, true, false,
         "Lost connection while sending end of data -- message may have been delivered",
         SmtpFailure::ConnectionLost, true},
        {"garbled MAIL reply fails its stage and ends the session with QUIT",
         greetAndHelo() + Script{expect("MAIL From: <a@x.test>\r\n"), send("2x0 what\r\n")} + kQuit,
         retries, true, false, "Malformed reply while sending MAIL FROM", SmtpFailure::Malformed},
        {"connection lost after MAIL",
         greetAndHelo() + Script{expect("MAIL From: <a@x.test>\r\n"), closeConnection()}, retries,
         true, false, "Lost connection while sending MAIL FROM", SmtpFailure::ConnectionLost},
        {"STARTTLS refused",
         Script{send("220 fake\r\n"), expect("EHLO \r\n"), send("250-fake\r\n250 STARTTLS\r\n"),
                expect("STARTTLS\r\n"), send("454 not now\r\n")} +
             kQuit,
         starttls, false, false, "STARTTLS refused by the server (454)", SmtpFailure::Tls},
        {"clear-text data behind the STARTTLS reply is refused",
         Script{send("220 fake\r\n"), expect("EHLO \r\n"), send("250-fake\r\n250 STARTTLS\r\n"),
                expect("STARTTLS\r\n"), send("220 go\r\n250 injected\r\n")},
         starttls, false, false, "Unexpected data after the STARTTLS reply", SmtpFailure::Tls},
        {"opportunistic mode falls back to HELO when EHLO is refused",
         Script{send("220 fake\r\n"), expect("EHLO \r\n"), send("500 what\r\n"),
                expect("HELO \r\n"), send("250 fake\r\n")} +
             kQuit,
         opportunistic, true, false, ""},
        {"opportunistic mode stays in clear text when STARTTLS is refused",
         Script{send("220 fake\r\n"), expect("EHLO \r\n"), send("250-fake\r\n250 STARTTLS\r\n"),
                expect("STARTTLS\r\n"), send("454 not now\r\n")} +
             kQuit,
         opportunistic, true, false, ""},
    };
}

TEST(SmtpClientTest, ProtocolBranches) {
    for (const Row& row : protocolRows()) {
        SCOPED_TRACE(row.name);
        Outcome o = run(row.script, row.session);
        EXPECT_EQ(o.mismatch, "");
        EXPECT_EQ(o.connected, row.wantConnected);
        EXPECT_EQ(o.sent, row.wantSent);
        if (!row.wantError.empty()) {
            EXPECT_EQ(o.error, row.wantError);
            EXPECT_EQ(o.failure, row.wantFailure);
            EXPECT_EQ(o.uncertain, row.wantUncertain);
        }
        if (row.wantUncertain) {
            std::size_t copies = 0;
            for (auto p = o.received.find(kData); p != std::string::npos;
                 p = o.received.find(kData, p + 1))
                ++copies;
            EXPECT_EQ(copies, 1u) << "the server may hold the message: it must not get another";
        }
        // Secrets never reach the log or an error text, in clear or in base64.
        for (const std::string& secret : {std::string("s3cret"), base64Encode("s3cret")}) {
            EXPECT_EQ(o.log.find(secret), std::string::npos);
            EXPECT_EQ(o.error.find(secret), std::string::npos);
        }
    }
}

// The scripted server's own strictness: what a real server refuses, it refuses.
// OAuth 2 logins, the SASL text checked byte for byte: XOAUTH2 by default, OAUTHBEARER where
// the server offers it and not XOAUTH2; a refused token gets the answer its mechanism gives the
// error report, and the session ends in step.
TEST(SmtpClientTest, OAuthTokenLogins) {
    Session oauth;
    oauth.authenticate = true;
    oauth.login = SmtpLogin::OAuthToken;
    // Spelled out in base64: "user=alice^Aauth=Bearer s3cret^A^A".
    const std::string xoauth2 = "AUTH XOAUTH2 dXNlcj1hbGljZQFhdXRoPUJlYXJlciBzM2NyZXQBAQ==\r\n";
    auto bearer = [](int port) {
        return "AUTH OAUTHBEARER " +
               base64Encode("n,a=alice,\x01host=127.0.0.1\x01port=" + std::to_string(port) +
                            "\x01"
                            "auth=Bearer s3cret\x01\x01") +
               "\r\n";
    };
    auto offering = [](std::string mechanisms) {
        return greetAndHelo() +
               Script{expect("EHLO \r\n"), send("250-fake\r\n250 AUTH " + mechanisms + "\r\n")};
    };
    const std::string report = "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiQmVhcmVyIn0=\r\n";
    struct {
        const char* name;
        std::function<Script(int)> script;
        bool wantConnected;
    } rows[] = {
        {"XOAUTH2 with its initial response",
         [&](int) {
             return offering("LOGIN PLAIN XOAUTH2") + Script{expect(xoauth2), send("235 ok\r\n")} +
                    kQuit;
         },
         true},
        {"refused token: the error report gets an empty answer, then 535",
         [&](int) {
             return offering("XOAUTH2 OAUTHBEARER") +
                    Script{expect(xoauth2), send(report), expect("\r\n"),
                           send("535 5.7.8 Username and Password not accepted\r\n")} +
                    kQuit;
         },
         false},
        {"OAUTHBEARER where offered without XOAUTH2",
         [&](int port) {
             return offering("PLAIN OAUTHBEARER") +
                    Script{expect(bearer(port)), send("235 ok\r\n")} + kQuit;
         },
         true},
        {"OAUTHBEARER refused: the error report gets %x01, then 535",
         [&](int port) {
             return offering("OAUTHBEARER") +
                    Script{expect(bearer(port)), send(report), expect("AQ==\r\n"),
                           send("535 5.7.8 invalid token\r\n")} +
                    kQuit;
         },
         false},
        {"no mechanism listed: XOAUTH2 is tried, never a password",
         [&](int) {
             return offering("PLAIN LOGIN") +
                    Script{expect(xoauth2), send("504 5.5.4 unrecognized mechanism\r\n")} + kQuit;
         },
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Outcome o = run(row.script, oauth);
        EXPECT_EQ(o.mismatch, "");
        EXPECT_EQ(o.connected, row.wantConnected);
        if (!row.wantConnected) {
            EXPECT_EQ(o.error, "Authentication Failed");
            EXPECT_EQ(o.failure, SmtpFailure::AuthFailed);
        }
        EXPECT_EQ(o.received.find(base64Encode(std::string("\0alice\0s3cret", 13))),
                  std::string::npos);
        for (const std::string& secret : {std::string("s3cret"), xoauth2.substr(13, 40)}) {
            EXPECT_EQ(o.log.find(secret), std::string::npos);
            EXPECT_EQ(o.error.find(secret), std::string::npos);
        }
    }
}

TEST(SmtpClientTest, FakeServerRefusesCommandsOutOfOrder) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> exchange;  // client line, server reply
        std::string lastLine;
        std::string want;
    };
    const Case cases[] = {
        {"MAIL inside a transaction",
         {{"MAIL From: <a@x>\r\n", "250 ok\r\n"}, {"RCPT TO: <b@y>\r\n", "550 no\r\n"}},
         "MAIL From: <a@x>\r\n",
         "503 5.5.1 Error: nested MAIL command\r\n"},
        {"MAIL after RSET",
         {{"MAIL From: <a@x>\r\n", "250 ok\r\n"}, {"RSET\r\n", "250 ok\r\n"}},
         "MAIL From: <a@x>\r\n",
         ""},
        {"MAIL after a refused MAIL",
         {{"MAIL From: <a@x>\r\n", "451 later\r\n"}},
         "MAIL From: <a@x>\r\n",
         ""},
        {"MAIL after an odd reply to the end of data",
         {{"MAIL From: <a@x>\r\n", "250 ok\r\n"},
          {"RCPT TO: <b@y>\r\n", "250 ok\r\n"},
          {"DATA\r\n", "354 go\r\n"},
          {"x\r\n.\r\n", "250\tOk queued\r\n"}},
         "MAIL From: <a@x>\r\n",
         ""},
        {"RCPT without MAIL", {}, "RCPT TO: <b@y>\r\n", "503 5.5.1 Error: need MAIL command\r\n"},
        {"DATA after every recipient was refused",
         {{"MAIL From: <a@x>\r\n", "250 ok\r\n"}, {"RCPT TO: <b@y>\r\n", "550 no\r\n"}},
         "DATA\r\n",
         "554 5.5.1 Error: no valid recipients\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::SmtpStateTracker state;
        for (const auto& [line, reply] : c.exchange) {
            EXPECT_EQ(state.clientBytes(line), "");
            state.serverReply(reply);
        }
        EXPECT_EQ(state.clientBytes(c.lastLine), c.want);
    }
}

TEST(SmtpClientTest, LogGetsFirstLineOfEveryReplyAndEveryFailure) {
    Script script =
        Script{send("220 fake ESMTP\r\n"), expect("HELO \r\n"), send("250-fake\r\n250 HELP\r\n"),
               expect("MAIL From: <a@x.test>\r\n"), send("550 no\x01 thanks\r\n")} +
        kQuit;
    Session mail;
    mail.sendMail = true;
    Outcome o = run(script, mail);
    EXPECT_EQ(o.log, "220 fake ESMTP\n250-fake\n550 no? thanks\n221 bye\n");

    Outcome silent =
        run({hold()}, {}, test::patientExcept<SmtpTimeouts>(SmtpStage::Greeting, 200ms));
    EXPECT_EQ(silent.log, "Timed out while receiving the initial server greeting\n");
}

TEST(SmtpClientTest, SilenceAtEachStageTimesOutNamingIt) {
    Session mail;
    mail.sendMail = true;
    Session auth;
    auth.authenticate = true;
    const Script toMail = greetAndHelo() + Script{expect("MAIL From: <a@x.test>\r\n")};
    const Script toRcpt = toMail + Script{send("250 ok\r\n"), expect("RCPT TO: <b@y.test>\r\n")};
    const Script toData = toRcpt + Script{send("250 ok\r\n"), expect("DATA\r\n")};
    const Script toEnd = toData + Script{send("354 go\r\n"), expect(kData)};
    struct Silence {
        Script script;
        Session session;
        SmtpStage stage;  // the one that waits; every other stage is patient
        std::string want;
    };
    const Silence rows[] = {
        {{hold()},
         {},
         SmtpStage::Greeting,
         "Timed out while receiving the initial server greeting"},
        {{send("220 fake\r\n"), hold()},
         {},
         SmtpStage::Helo,
         "Timed out while performing the HELO handshake"},
        // A stalled AUTH is a connection problem, not a refused account.
        {greetAndHelo() + kAuthPrelude + Script{hold()}, auth, SmtpStage::Auth,
         "Timed out while authenticating"},
        {toMail + Script{hold()}, mail, SmtpStage::Mail, "Timed out while sending MAIL FROM"},
        {toRcpt + Script{hold()}, mail, SmtpStage::Rcpt, "Timed out while sending RCPT TO"},
        {toData + Script{hold()}, mail, SmtpStage::Data, "Timed out while sending DATA command"},
        {toEnd + Script{hold()}, mail, SmtpStage::EndOfData,
         "Timed out while sending end of data -- message may have been delivered"},
        {toEnd + Script{send("250 ok\r\n"), expect("QUIT\r\n"), hold()}, mail, SmtpStage::Quit,
         "Timed out while sending QUIT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.want);
        Outcome o =
            run(row.script, row.session, test::patientExcept<SmtpTimeouts>(row.stage, 300ms));
        EXPECT_EQ(o.error, row.want);
        EXPECT_EQ(o.mismatch, "");
    }
}

TEST(SmtpClientTest, StalledTransferTimesOut) {
    // A body larger than the socket buffers on both sides: the send itself has to wait.
    std::string body(32 << 20, 'x');
    FakeServer server(greetAndHelo() + Script{expect("MAIL From: <a@x.test>\r\n"),
                                              send("250 ok\r\n"), expect("RCPT TO: <b@y.test>\r\n"),
                                              send("250 ok\r\n"), expect("DATA\r\n"),
                                              send("354 go\r\n"), test::stall()});
    SmtpClient client("127.0.0.1", server.port());
    // The replies before the stall may be slow on a busy machine; the transfer's limit is far
    // below the server's stall.
    auto limits = test::patientExcept<SmtpTimeouts>(SmtpStage::DataTransfer, 300ms);
    client.setTimeouts(limits);
    ASSERT_TRUE(client.connect());
    std::vector<std::string_view> rcpt{"b@y.test"};
    EXPECT_FALSE(client.sendMessage({"<a@x.test>", rcpt, kHeader, body}));
    EXPECT_EQ(client.lastError(), "Timed out while sending message body");
    // The session is gone: a retry fails with the same text instead of a misleading one.
    EXPECT_FALSE(client.sendMessage({"<a@x.test>", rcpt, kHeader, kBody}));
    EXPECT_EQ(client.lastError(), "Timed out while sending message body");
    EXPECT_TRUE(client.disconnect());
}

TEST(SmtpClientTest, CallsOutOfOrder) {
    SendLogBuffer log;
    SmtpClient client("127.0.0.1", 1);
    client.setLogSink(2, &log);
    EXPECT_TRUE(client.disconnect());  // nothing to end, nothing sent
    std::vector<std::string_view> rcpt{"b@y.test"};
    EXPECT_FALSE(client.sendMessage({"<a@x.test>", rcpt, kHeader, kBody}));
    EXPECT_EQ(client.lastError(), "Must be connected");
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), "Unable to connect to server");
    EXPECT_EQ(log.slotText(2), "Must be connected\nUnable to connect to server\n");
}

TEST(SmtpClientTest, LineBreakInAnAddressIsNotSent) {
    Session mail;
    mail.sendMail = true;
    mail.recipients = {"b@y.test>\r\nRCPT TO: <evil@z.test"};
    Outcome o = run(greetAndHelo() + kQuit, mail);
    EXPECT_FALSE(o.sent);
    EXPECT_EQ(o.error, "Line break in a recipient address");
    EXPECT_EQ(o.received, "HELO \r\nQUIT\r\n");
}

TEST(SmtpClientTest, GarbageNeverCrashesOrHangs) {
    const std::string samples[] = {
        std::string("\0\0\0\r\n", 5),
        std::string(100000, 'x'),
        "\r\n\r\n\r\n",
        "250-" + std::string(5000, 'y') + "\r\n",
        [] {
            std::string s;
            for (int i = 0; i < 5000; ++i) s += "250-more\r\n";
            return s;
        }(),
        "2\n5\n0\n",
        "\xff\xfe\x80 \r\n",
        "999 \r\n",
    };
    for (const auto& g : samples) {
        run({send(g), closeConnection()}, {});
        Session mail;
        mail.sendMail = true;
        run(greetAndHelo() +
                Script{expect("MAIL From: <a@x.test>\r\n"), send(g), closeConnection()},
            mail);
    }
}

}  // namespace
}  // namespace qm
