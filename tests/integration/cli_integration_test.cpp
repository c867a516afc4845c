// quillmark-cli's smtp and dns commands against the real servers, as a user runs them.
#include <gtest/gtest.h>

#include <sys/wait.h>

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
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.output, "\n");

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

}  // namespace
}  // namespace qm
