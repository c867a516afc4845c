// quillmark-cli's smtp and dns commands against the real servers, as a user runs them.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "cli_run.h"
#include "peer_env.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::CliRun;
using test::runCli;

TEST(CliTest, SmtpTestPrintsRepliesAndNeverThePassword) {
    test::TempDir dir;
    std::string port = test::peerEnv("QM_AIO_PORT");
    std::string env = "QUILLMARK_CONFIG=" + dir.file("settings.ini") + " QM_PW=s3cret";
    CliRun ok = runCli("smtp test --server 127.0.0.1 --port " + port +
                           " --security starttls --verify-cert n --user alice --password-env QM_PW",
                       env);
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_NE(ok.output.find("220 Ready to start TLS"), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("235 2.7.0 Authentication successful"), std::string::npos);
    EXPECT_EQ(ok.output.find("s3cret"), std::string::npos);

    CliRun bad =
        runCli("smtp test --server 127.0.0.1 --port " + port + " --user alice --password-env QM_PW",
               "QUILLMARK_CONFIG=" + dir.file("settings.ini") + " QM_PW=wrong");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("Authentication Failed"), std::string::npos) << bad.output;
    EXPECT_EQ(bad.output.find("wrong"), std::string::npos);
}

// --oauth-command: the token the command prints logs in; a refused one is named by its command;
// the token never reaches the output.
TEST(CliTest, SmtpTestWithAnOAuthTokenCommand) {
    test::TempDir dir;
    const std::string port = test::peerEnv("QM_AIO_PORT");
    const std::string env = "QUILLMARK_CONFIG=" + dir.file("settings.ini");
    for (const std::string token : {"good-token", "stale-token"}) {
        SCOPED_TRACE(token);
        const std::string script = token == "good-token" ? "fresh.sh" : "old.sh";
        dir.write(script, "#!/bin/sh\necho " + token + "\n");
        ASSERT_EQ(::chmod(dir.file(script).c_str(), 0700), 0);
        const std::string command = dir.file(script) + " --account alice";
        CliRun run = runCli("smtp test --server 127.0.0.1 --port " + port +
                                " --user alice --oauth-command '" + command + "'",
                            env);
        EXPECT_EQ(run.output.find(token), std::string::npos) << run.output;
        if (token == "good-token") {
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_NE(run.output.find("235 2.7.0"), std::string::npos) << run.output;
        } else {
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_NE(run.output.find("token command \"" + command + "\""), std::string::npos)
                << run.output;
        }
    }
}

TEST(CliTest, SmtpTestUsesStoredSettingsAndMxLookups) {
    test::TempDir dir;
    std::string settings = dir.file("settings.ini");
    std::string env = "QUILLMARK_CONFIG=" + settings;
    std::string port = test::peerEnv("QM_AIO_PORT");
    for (const std::string& set : std::vector<std::string>{
             "SmtpServer Server 127.0.0.1", "SmtpServer Port " + port, "SmtpServer Auth y",
             "SmtpServer Uname alice", "SmtpServer Password s3cret", "SmtpServer Security starttls",
             "SmtpServer VerifyCert n"})
        ASSERT_EQ(runCli("settings set " + set, env).status, 0);
    CliRun stored = runCli("smtp test", env);
    EXPECT_EQ(stored.status, 0) << stored.output;
    EXPECT_NE(stored.output.find("(TLS in use)"), std::string::npos) << stored.output;

    dir.write("resolv.conf", "nameserver 127.0.0.1#" + test::peerEnv("QM_DNS_PORT") + "\n");
    env += " QUILLMARK_RESOLV_CONF=" + dir.file("resolv.conf");
    CliRun mx = runCli("smtp test --mx local.test --port " + port, env);
    EXPECT_EQ(mx.status, 0) << mx.output;
    EXPECT_NE(mx.output.find("exchanger: localhost"), std::string::npos) << mx.output;
    EXPECT_NE(mx.output.find("(TLS in use)"), std::string::npos) << mx.output;  // MxStartTls "y"
}

TEST(CliTest, DnsCommands) {
    test::TempDir dir;
    dir.write("resolv.conf", "nameserver 127.0.0.1#" + test::peerEnv("QM_DNS_PORT") + "\n");
    std::string env = "QUILLMARK_RESOLV_CONF=" + dir.file("resolv.conf");
    CliRun mx = runCli("dns mx pref.test", env);
    EXPECT_EQ(mx.status, 0);
    EXPECT_EQ(mx.output, "high.pref.test,low.pref.test\n");
    CliRun q = runCli("dns query alias.test IN A", env);
    EXPECT_EQ(q.output, "127.0.0.4\n");
    CliRun none = runCli("dns mx nomx.test", env);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "no records for nomx.test\n");

    // dnsmasq refuses names outside its own zone: a failure, not an empty list.
    CliRun failed = runCli("dns mx example.org", env);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.output, "DNS lookup failed: the DNS server reported a failure\n");
    CliRun smtp = runCli("smtp test --mx example.org", env);
    EXPECT_EQ(smtp.status, 1);
    EXPECT_NE(smtp.output.find("MX lookup failed: the DNS server reported a failure"),
              std::string::npos)
        << smtp.output;
}

// A loopback port where nothing listens (taken from the system, then let go).
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Each mistake a newcomer makes on the command line, the exact message it gets now and its exit
// code. `whole`: the output is exactly `output`; else it holds it (a run also prints its figures).
TEST(CliTest, MistakesGetAMessageThatSaysWhatToDo) {
    test::TempDir dir;
    dir.write("body.txt", "Hello\r\n");
    dir.write("resolv.conf", "nameserver 127.0.0.1#" + test::peerEnv("QM_DNS_PORT") + "\n");
    const std::string env = "QUILLMARK_CONFIG=" + dir.file("settings.ini") +
                            " QUILLMARK_HOME=" + dir.file("home") +
                            " QUILLMARK_RESOLV_CONF=" + dir.file("resolv.conf");
    const std::string aio = test::peerEnv("QM_AIO_PORT");
    const std::string closed = std::to_string(closedPort());
    const std::string message =
        " --from-name Ann --from ann@example.test --subject Hi --text " + dir.file("body.txt");
    const std::string noServer =
        "No mail server is set. Give --server HOST to send through your mail server, or --mx to "
        "deliver straight to each recipient's mail exchanger (or run Quillsetup to store one).\n";
    struct Case {
        const char* mistake;
        std::string args;
        int status;
        std::string output;
        bool whole = true;
    };
    const Case cases[] = {
        {"a group that does not exist", "groups show Nope", 1,
         "No group named 'Nope' (see quillmark-cli groups list)\n"},
        {"adding to a group that does not exist", "groups add Nope --email a@x.com", 1,
         "No group named 'Nope' (see quillmark-cli groups list)\n"},
        {"send on a fresh settings file, without --server or --mx",
         "send" + message + " --to a@x.com", 1, noServer},
        {"test-campaign the same way", "test-campaign" + message + " --to a@x.com", 1, noServer},
        {"a timer's run-due before any setting, nothing due", "scheduler run-due", 0, ""},
        {"smtp test without a server", "smtp test", 1,
         "No mail server is set: give --server HOST (and --port), or store one with Quillsetup "
         "or \"settings set SmtpServer Server HOST\".\n"},
        {"a server that does not listen", "smtp test --server 127.0.0.1 --port " + closed, 1,
         "Unable to connect to server (server 127.0.0.1, port " + closed + ")\n"},
        {"a relay that does not listen, in a run",
         "send" + message + " --to a@x.com --server 127.0.0.1 --port " + closed, 1,
         "Error connecting to specified mail server. (server 127.0.0.1, port " + closed + ")\n",
         false},
        {"--password-env naming an unset variable (relay)",
         "smtp test --server 127.0.0.1 --port " + aio + " --user alice --password-env QM_NOT_SET",
         1,
         "The environment variable QM_NOT_SET named by --password-env is not set; it must hold "
         "the relay password.\n"},
        {"--password-env naming an unset variable (mailbox)",
         "unsubscribers fetch --server 127.0.0.1 --user alice --password-env QM_NOT_SET --out " +
             dir.file("out.txt"),
         1,
         "The environment variable QM_NOT_SET named by --password-env is not set; it must hold "
         "the mailbox password.\n"},
        {"a pace that is no pace", "settings set SmtpServer Rate banana", 1,
         "SmtpServer Rate: 'banana' is not a value it takes (N/min, N/h or 0)\n"},
        {"an exchanger order that is none", "settings set SmtpServer MxOrder bogus", 1,
         "SmtpServer MxOrder: 'bogus' is not a value it takes (answer or preference)\n"},
        {"a port out of range", "settings set SmtpServer Port 70000", 1,
         "SmtpServer Port: '70000' is not a value it takes (a port, 1 to 65535)\n"},
        {"refused values were not stored", "settings get SmtpServer Rate", 0, "0\n"},
        {"TXT records are printed", "dns query example.test IN TXT", 0, "not rendered\n"},
        {"a name without TXT records", "dns query nomx.test IN TXT", 1,
         "no records for nomx.test\n"},
        {"a domain without MX records", "dns mx nomx.test", 1, "no records for nomx.test\n"},
        {"schedule add does not offer --unsubscribe",
         "schedule add" + message + " --to a@x.com --at '2030-01-01 10:00' --unsubscribe u@x.com",
         2, "The following arguments were not expected: u@x.com --unsubscribe", false},
        {"a refusal keeps the server's own words",
         "send" + message + " --to reject.me@x.test --server 127.0.0.1 --port " + aio, 1,
         "Email fail <Hi>: 550:SMTP server error (server said: 550 5.1.1 <reject.me@x.test>: "
         "Recipient address rejected)\n",
         false},
    };
    for (const Case& c : cases) {
        CliRun r = runCli(c.args, env);
        EXPECT_EQ(r.status, c.status) << c.mistake << "\n" << r.output;
        if (c.whole)
            EXPECT_EQ(r.output, c.output) << c.mistake;
        else
            EXPECT_NE(r.output.find(c.output), std::string::npos) << c.mistake << ": got\n"
                                                                  << r.output;
    }
    EXPECT_EQ(runCli("schedule add --help", env).output.find("--unsubscribe"), std::string::npos);
}

}  // namespace
}  // namespace qm
