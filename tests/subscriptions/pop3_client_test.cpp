// The POP3 client against a scripted server: split replies, a terminator cut between reads,
// silence at each stage, refusals, loose replies and garbage. The server refuses commands out of
// their state as Dovecot does. Real Dovecot (tests/integration) covers TLS and real mailboxes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "fake_pop3_server.h"
#include "subscriptions/pop3_client.h"
#include "support/timeouts.h"

namespace qm {

void PrintTo(Pop3Failure f, std::ostream* os) {
    static constexpr const char* kNames[] = {"None",     "NoConnection", "Refused",     "Tls",
                                             "TimedOut", "SocketError",  "Interrupted", "TooLarge"};
    *os << kNames[static_cast<int>(f)];
}

namespace {

using namespace std::chrono_literals;
using test::FakePop3Server;
using test::hangUp;
using test::Pop3Step;
using test::say;
using test::silence;
using test::want;
using Script = std::vector<Pop3Step>;

const Script kLogin = {say("+OK ready\r\n"), want("USER alice\r\n"), say("+OK\r\n"),
                       want("PASS s3cret\r\n"), say("+OK Logged in.\r\n")};

Script withLogin(Script rest) {
    Script s = kLogin;
    s.insert(s.end(), rest.begin(), rest.end());
    return s;
}

struct Outcome {
    bool connected = false;
    int count = -2;
    bool retrieved = false;
    bool disconnected = false;
    RetrievedMessage message;
    std::string error;
    Pop3Failure failure = Pop3Failure::None;
    Pop3Stage stage = Pop3Stage::Connect;
    std::string mismatch;
    std::string received;
};

// Connects, then STAT and RETR 1 as far as each goes, then QUIT.
Outcome session(Script script, bool stat = true, bool retr = true,
                const Pop3Timeouts& limits = Pop3Timeouts::uniform(test::kPatient)) {
    FakePop3Server server(std::move(script));
    Outcome o;
    {
        Pop3Client client("127.0.0.1", server.port(), "alice", "s3cret");
        client.setTimeouts(limits);
        auto note = [&] {
            o.error = client.lastError();
            o.failure = client.failure();
            o.stage = client.failedStage();
        };
        o.connected = client.connect();
        if (!o.connected) note();
        if (o.connected && stat) {
            o.count = client.messageCount();
            if (o.count < 0) note();
        }
        if (o.connected && retr && o.count > 0) {
            o.retrieved = client.retrieve(1, o.message);
            if (!o.retrieved) note();
        }
        if (o.connected) {
            o.disconnected = client.disconnect();
            if (!o.disconnected) note();
        }
    }
    server.finish();
    o.mismatch = server.mismatch();
    o.received = server.received();
    return o;
}

const std::string kStuffed =
    "From: Ann <ann@x.test>\r\nTo: b@y.test\r\nDate: Mon, 1 Jan 2024 00:00:00 +0000\r\n"
    "Subject: Unsubscribe-News:Letter\r\n\r\n..first\r\n..\r\nlast\r\n";

TEST(Pop3ClientTest, MessageArrivesWholeHoweverTheBytesAreSplit) {
    struct Case {
        const char* name;
        Script data;  // after "+OK" to RETR 1
    };
    const Case cases[] = {
        {"all in one segment", {say(kStuffed + ".\r\n")}},
        {"terminator split after its dot", {say(kStuffed + "."), say("\r\n")}},
        {"terminator split inside its line end", {say(kStuffed + ".\r"), say("\n")}},
        {"terminator split before its dot", {say(kStuffed), say(".\r\n")}},
        {"one byte at a time at the end",
         {say(kStuffed.substr(0, 60)), say(kStuffed.substr(60, kStuffed.size() - 61)),
          say(kStuffed.substr(kStuffed.size() - 1)), say("."), say("\r"), say("\n")}},
        {"stuffed dot line looks like a terminator across segments",
         {say(kStuffed.substr(0, kStuffed.find("\r\n..\r\n") + 3)),
          say(kStuffed.substr(kStuffed.find("\r\n..\r\n") + 3) + ".\r\n")}},
    };
    for (const auto& c : cases) {
        Script s = withLogin({want("STAT\r\n"), say("+OK 1 200\r\n"), want("RETR 1\r\n"),
                              say("+OK 200 octets\r\n")});
        s.insert(s.end(), c.data.begin(), c.data.end());
        s.insert(s.end(), {want("QUIT\r\n"), say("+OK Logging out.\r\n")});
        Outcome o = session(s);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(o.mismatch, "");
        ASSERT_TRUE(o.retrieved) << o.error;
        EXPECT_EQ(o.count, 1);
        EXPECT_EQ(o.message.from, "Ann <ann@x.test>");
        EXPECT_EQ(o.message.subject, "Unsubscribe-News:Letter");
        EXPECT_EQ(o.message.body, ".first\r\n.\r\nlast\r\n");
        EXPECT_TRUE(o.disconnected) << o.error;
    }
}

TEST(Pop3ClientTest, RepliesSplitAcrossSegmentsAreReadWhole) {
    Script s = {say("+OK rea"),
                say("dy\r"),
                say("\n"),
                want("USER alice\r\n"),
                say("+"),
                say("OK\r\n"),
                want("PASS s3cret\r\n"),
                say("+OK Logged in.\r\n"),
                want("STAT\r\n"),
                say("+OK 1"),
                say("2 4"),
                say("00\r\n"),
                want("QUIT\r\n"),
                say("+OK\r\n")};
    Outcome o = session(s, true, false);
    EXPECT_EQ(o.mismatch, "");
    EXPECT_TRUE(o.connected) << o.error;
    EXPECT_EQ(o.count, 12) << "a count cut between segments must not be read as 1";
}

TEST(Pop3ClientTest, RefusalsGiveEachCommandsText) {
    struct Case {
        const char* name;
        Script script;
        bool stat, retr;
        std::string error;
        Pop3Stage stage;
    };
    const Case cases[] = {
        {"greeting",
         {say("-ERR go away\r\n")},
         false,
         false,
         "Server didn't connect.",
         Pop3Stage::Greeting},
        {"user",
         {say("+OK\r\n"), want("USER alice\r\n"), say("-ERR no\r\n")},
         false,
         false,
         "Invalid user name.",
         Pop3Stage::User},
        {"wrong password",
         {say("+OK\r\n"), want("USER alice\r\n"), say("+OK\r\n"), want("PASS s3cret\r\n"),
          say("-ERR [AUTH] Authentication failed.\r\n")},
         false,
         false,
         "Invalid username/password. ",
         Pop3Stage::Pass},
        {"stat",
         withLogin({want("STAT\r\n"), say("-ERR busy\r\n"), want("QUIT\r\n"), say("+OK\r\n")}),
         true, false, "Status couldn't be retrieved.", Pop3Stage::Stat},
        {"stat without a number",
         withLogin({want("STAT\r\n"), say("+OK\r\n"), want("QUIT\r\n"), say("+OK\r\n")}), true,
         false, "Status couldn't be retrieved.", Pop3Stage::Stat},
        {"retr",
         withLogin({want("STAT\r\n"), say("+OK 1 9\r\n"), want("RETR 1\r\n"),
                    say("-ERR no such message\r\n"), want("QUIT\r\n"), say("+OK\r\n")}),
         true, true, "Retrieve failed.", Pop3Stage::Retr},
        {"quit", withLogin({want("QUIT\r\n"), say("-ERR cannot\r\n")}), false, false,
         "Error while quiting.", Pop3Stage::Quit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = session(c.script, c.stat, c.retr);
        EXPECT_EQ(o.mismatch, "");
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.failure, Pop3Failure::Refused);
        EXPECT_EQ(o.stage, c.stage);
    }
}

TEST(Pop3ClientTest, SilenceAtEachStageTimesOutNamingIt) {
    struct Case {
        Script script;
        bool stat, retr;
        Pop3Stage stage;
    };
    const Case cases[] = {
        {{silence()}, false, false, Pop3Stage::Greeting},
        {{say("+OK\r\n"), want("USER alice\r\n"), silence()}, false, false, Pop3Stage::User},
        {{say("+OK\r\n"), want("USER alice\r\n"), say("+OK\r\n"), want("PASS s3cret\r\n"),
          silence()},
         false,
         false,
         Pop3Stage::Pass},
        {withLogin({want("STAT\r\n"), silence()}), true, false, Pop3Stage::Stat},
        {withLogin({want("STAT\r\n"), say("+OK 1 5\r\n"), want("RETR 1\r\n"), silence()}), true,
         true, Pop3Stage::Retr},
        {withLogin({want("STAT\r\n"), say("+OK 1 5\r\n"), want("RETR 1\r\n"),
                    say("+OK\r\nA: b\r\n"), silence()}),
         true, true, Pop3Stage::RetrData},
        {withLogin({want("QUIT\r\n"), silence()}), false, false, Pop3Stage::Quit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(pop3StageDescription(c.stage)));
        Outcome o =
            session(c.script, c.stat, c.retr, test::patientExcept<Pop3Timeouts>(c.stage, 300ms));
        EXPECT_EQ(o.mismatch, "");
        EXPECT_EQ(o.failure, Pop3Failure::TimedOut);
        EXPECT_EQ(o.stage, c.stage);
        EXPECT_EQ(o.error, "Timed out " + std::string(pop3StageDescription(c.stage)));
    }
}

TEST(Pop3ClientTest, LooseAndGarbledReplies) {
    // Replies that are neither +OK nor -ERR count as success, as small servers answer loosely.
    Outcome loose = session({say("hello there\r\n"), want("USER alice\r\n"), say("fine\r\n"),
                             want("PASS s3cret\r\n"), say("\x01\x02 in\r\n"), want("STAT\r\n"),
                             say("OK 0 0\r\n"), want("QUIT\r\n"), say("bye\r\n")});
    EXPECT_EQ(loose.mismatch, "");
    EXPECT_TRUE(loose.connected);
    EXPECT_EQ(loose.count, 0);
    EXPECT_TRUE(loose.disconnected);

    // A server that closes in the middle of a message.
    Outcome cut = session(withLogin({want("STAT\r\n"), say("+OK 1 5\r\n"), want("RETR 1\r\n"),
                                     say("+OK\r\nSubject: x\r\n"), hangUp()}));
    EXPECT_FALSE(cut.retrieved);
    EXPECT_EQ(cut.error, "Socket Error.");
    EXPECT_EQ(cut.failure, Pop3Failure::SocketError);

    // A status line without an end is read up to the cap and its rest dropped; the next line is
    // still the next reply.
    FakePop3Server server({say("+OK " + std::string(100000, 'x') + "\r\n"), want("USER alice\r\n"),
                           say("-ERR no\r\n")});
    Pop3Client client("127.0.0.1", server.port(), "alice", "s3cret");
    client.setTimeouts(Pop3Timeouts::uniform(test::kPatient));
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), "Invalid user name.");
    EXPECT_EQ(client.lastReply(), "-ERR no");
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
}

TEST(Pop3ClientTest, LineBreakInUserNameIsNeverSent) {
    FakePop3Server server({say("+OK\r\n"), silence()});
    Pop3Client client("127.0.0.1", server.port(), "alice\r\nDELE 1", "pw");
    client.setTimeouts(Pop3Timeouts::uniform(test::kPatient));
    EXPECT_FALSE(client.connect());
    server.finish();
    EXPECT_EQ(server.received().find("DELE"), std::string::npos);
}

TEST(Pop3ClientTest, StlsRefusedFailsAsTls) {
    FakePop3Server server({say("+OK\r\n"), want("STLS\r\n"), say("-ERR no TLS here\r\n")});
    Pop3Client client("127.0.0.1", server.port(), "alice", "s3cret");
    client.setTimeouts(Pop3Timeouts::uniform(test::kPatient));
    client.setSecurity({Pop3Security::StartTls, true, {}});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.failure(), Pop3Failure::Tls);
    server.finish();
    EXPECT_EQ(server.mismatch(), "");
    EXPECT_EQ(server.received().find("PASS"), std::string::npos) << "no password in clear text";
}

TEST(Pop3ClientTest, InterruptEndsAWaitAtOnce) {
    FakePop3Server server({silence()});
    Pop3Client client("127.0.0.1", server.port(), "alice", "s3cret");
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        client.interrupt();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect());
    stopper.join();
    EXPECT_EQ(client.failure(), Pop3Failure::Interrupted);
    // Half the greeting time-out: the wait it must cut short, with room for any busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s) << "not the 120 s greeting time-out";
}

TEST(Pop3ClientTest, NobodyListening) {
    // A port that was free a moment ago: bound, never listened on, closed.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    Pop3Client client("127.0.0.1", ntohs(addr.sin_port), "alice", "s3cret");
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), "Unable to connect to server.");
    EXPECT_EQ(client.failure(), Pop3Failure::NoConnection);
}

}  // namespace
}  // namespace qm
