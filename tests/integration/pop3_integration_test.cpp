// The POP3 client and a whole retrieval run against a real Dovecot (tests/peers/with_peers.sh
// pop3): plain, STLS and POP3S, a wrong password, certificate verification, and the mailbox of
// tests/peers/pop3-mailbox.sh read twice without change.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>

#include "cli_run.h"
#include "config/paths.h"
#include "peer_env.h"
#include "subscriptions/pop3_client.h"
#include "subscriptions/retrieval.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

constexpr int kMessages = 6;

int filesIn(const std::string& folder) {
    int n = 0;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

struct Quiet : RetrievalObserver {
    void status(const std::string&) override {}
    void listed(const std::string&) override {}
    void notice(const std::string& t) override { notices.push_back(t); }
    std::vector<std::string> notices;
};

TEST(Pop3DovecotTest, EverySecurityReadsTheMailbox) {
    const std::string cert = test::peerEnv("QM_POP3_CERT");
    struct Case {
        const char* name;
        Pop3Security mode;
        int port;
    };
    const Case cases[] = {
        {"plain", Pop3Security::None, test::peerPort("QM_POP3_PORT")},
        {"STLS", Pop3Security::StartTls, test::peerPort("QM_POP3_PORT")},
        {"POP3S", Pop3Security::Tls, test::peerPort("QM_POP3S_PORT")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pop3Client client("127.0.0.1", c.port, "alice", "s3cret");
        client.setSecurity({c.mode, true, cert});
        ASSERT_TRUE(client.connect()) << client.lastError();
        EXPECT_EQ(client.usesTls(), c.mode != Pop3Security::None);
        ASSERT_EQ(client.messageCount(), kMessages) << client.lastError();
        RetrievedMessage first, dots;
        ASSERT_TRUE(client.retrieve(1, first)) << client.lastError();
        EXPECT_EQ(first.from, "\"Doe, Jane\" <jane.doe@example.org>");
        EXPECT_EQ(first.subject, "Unsubscribe-My:Group");
        ASSERT_TRUE(client.retrieve(kMessages, dots)) << client.lastError();
        EXPECT_EQ(dots.body, "line 1\r\n.leading dot\r\n..two dots\r\n.\r\nend\r\n");
        EXPECT_FALSE(client.retrieve(kMessages + 1, dots));
        EXPECT_EQ(client.lastError(), "Retrieve failed.");
        EXPECT_TRUE(client.disconnect()) << client.lastError();
    }
}

TEST(Pop3DovecotTest, WrongPasswordAndUntrustedCertificate) {
    Pop3Client wrong("127.0.0.1", test::peerPort("QM_POP3_PORT"), "alice", "nope");
    EXPECT_FALSE(wrong.connect());
    EXPECT_EQ(wrong.lastError(), "Invalid username/password. ");
    EXPECT_EQ(wrong.failure(), Pop3Failure::Refused);

    // The self-signed certificate is in no trusted store: verification must refuse it, before
    // the password goes anywhere.
    const std::pair<Pop3Security, int> secured[] = {
        {Pop3Security::StartTls, test::peerPort("QM_POP3_PORT")},
        {Pop3Security::Tls, test::peerPort("QM_POP3S_PORT")}};
    for (auto [mode, port] : secured) {
        Pop3Client client("127.0.0.1", port, "alice", "s3cret");
        client.setSecurity({mode, true, {}});
        EXPECT_FALSE(client.connect());
        EXPECT_EQ(client.failure(), Pop3Failure::Tls) << client.lastError();
        Pop3Client lax("127.0.0.1", port, "alice", "s3cret");
        lax.setSecurity({mode, false, {}});
        EXPECT_TRUE(lax.connect()) << lax.lastError();
    }
}

TEST(Pop3DovecotTest, RetrievalFilesRequestsAndLeavesTheMailbox) {
    test::TempDir dir;
    Paths paths(dir.file("qm"));
    ASSERT_TRUE(paths.ensureFolders());
    RetrievalRequest req;
    req.server = "127.0.0.1";
    req.port = test::peerPort("QM_POP3_PORT");
    req.security = {Pop3Security::StartTls, true, test::peerEnv("QM_POP3_CERT")};
    req.user = "alice";
    req.password = "s3cret";
    req.outputFile = dir.file("out.txt");
    const std::string maildir = test::peerEnv("QM_POP3_MAILDIR");
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::string> list;
        Quiet quiet;
        RetrievalResult r = RetrievalRun(paths, req, list).run(quiet);
        ASSERT_EQ(r.outcome, RetrievalOutcome::Done) << r.message;
        EXPECT_EQ(r.messages, kMessages);
        EXPECT_EQ(r.recorded, round == 1 ? 4 : 0) << "requests read again add nothing";
        EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_My Group.sbz"), "jane.doe@example.org\r\n");
        EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_News.sbz"), "bob@example.com\r\n");
        EXPECT_EQ(dir.read("qm/GroupUnsubscribers/_1.sbz"),
                  "carol@example.net\r\ndots@example.org\r\n");
        EXPECT_EQ(dir.read("out.txt"),
                  "jane.doe@example.org\r\nbob@example.com\r\ncarol@example.net\r\n"
                  "dots@example.org\r\n");
        EXPECT_TRUE(quiet.notices.empty());
        EXPECT_EQ(filesIn(maildir + "/new") + filesIn(maildir + "/cur"), kMessages);
    }
}

TEST(Pop3DovecotTest, CommandLineFetchFilterAndSave) {
    test::TempDir dir;
    const std::string env = "QUILLMARK_CONFIG=" + dir.file("settings.ini") +
                            " QUILLMARK_HOME=" + dir.file("home") + " QM_PW=s3cret";
    const std::string server = "--server 127.0.0.1 --port " + test::peerEnv("QM_POP3S_PORT") +
                               " --security tls --ca-file " + test::peerEnv("QM_POP3_CERT") +
                               " --user alice --password-env QM_PW";
    test::CliRun fetched =
        test::runCli("unsubscribers fetch " + server + " --out " + dir.file("out.txt"), env);
    ASSERT_EQ(fetched.status, 0) << fetched.output;
    EXPECT_EQ(fetched.output.find("s3cret"), std::string::npos);
    EXPECT_EQ(dir.read("home/GroupUnsubscribers/_News.sbz"), "bob@example.com\r\n");
    EXPECT_EQ(dir.read("out.txt"),
              "jane.doe@example.org\r\nbob@example.com\r\ncarol@example.net\r\n"
              "dots@example.org\r\n");

    test::CliRun wrong = test::runCli(
        "unsubscribers fetch " + server + " --out " + dir.file("x.txt"), env + " QM_PW=nope");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.output.find("Invalid username/password."), std::string::npos) << wrong.output;

    // Subscribe mode into a group that knows one sender already.
    dir.write("home/GroupRecipients/_Club.sbz", "bob@example.com,Bob,,,,,,,,,,,,E\r\n");
    test::CliRun subscribed =
        test::runCli("unsubscribers fetch " + server + " --out " + dir.file("subs.txt") +
                         " --subscribe --groups Club\\;",
                     env);
    ASSERT_EQ(subscribed.status, 0) << subscribed.output;
    EXPECT_EQ(dir.read("home/GroupRecipients/_Club.sbz"),
              "bob@example.com,Bob,,,,,,,,,,,,E\r\n"
              "jane.doe@example.org,,,,,,,,,,,,,E\r\n"
              "carol@example.net,,,,,,,,,,,,,E\r\n"
              "dots@example.org,,,,,,,,,,,,,E\r\n");

    test::CliRun filtered =
        test::runCli("unsubscribers filter --groups Club\\; --file " + dir.file("out.txt"), env);
    ASSERT_EQ(filtered.status, 0) << filtered.output;
    test::CliRun saved =
        test::runCli("unsubscribers save --groups Club\\; --out " + dir.file("saved.txt"), env);
    ASSERT_EQ(saved.status, 0) << saved.output;
    EXPECT_EQ(dir.read("saved.txt"),
              "bob@example.com\r\njane.doe@example.org\r\ncarol@example.net\r\n"
              "dots@example.org\r\n");

    EXPECT_EQ(test::runCli("settings auto-unsubscribe on", env).status, 0);
    EXPECT_EQ(test::runCli("settings auto-unsubscribe", env).output, "on\n");
    EXPECT_EQ(test::runCli("settings get Info\\\\Test Test", env).output, "y\n");
}

}  // namespace
}  // namespace qm
