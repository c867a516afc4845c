// DKIM end to end: every message of a signed campaign, as smtp-sink received it, verifies with
// dkimpy for RSA and Ed25519, and an altered copy does not; the command line's keygen, dkim check
// and check-domain against records served by dnsmasq.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "cli_run.h"
#include "common/file_util.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/run_request.h"
#include "delivery/send_log_buffer.h"
#include "peer_env.h"
#include "support/run_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const std::string kPeers = QM_PEERS_DIR;
const std::string kKeys = kPeers + "/dkim/";

// dkimpy's verdict over one file: "sig0=pass", "sig0=fail"...
std::string verifyFile(const std::string& path) {
    std::string cmd = "/usr/bin/python3 " + kKeys + "dkverify.py rsa1=" + kKeys +
                      "rsa.txt ed1=" + kKeys + "ed25519.txt < " + path + " 2>/dev/null";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[256];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

class Ends : public test::RunEndings {};

TEST(DkimTest, SinkEveryCampaignMessageVerifies) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    dir.write("qm/GroupRecipients/_Friends.sbz",
              "g1@x.test,Gina,,,,,,,,,,,,E\r\ng2@y.test,Güs Ünal,,,,,,,,,,,,E\r\n");
    dir.write("logo.gif", "GIF89a\x01\x00\x01\x00 a picture");
    dir.write("terms.pdf", std::string(3000, 'p') + "\r\n.\r\n" + std::string(100, 'q'));
    const std::string dump = test::peerEnv("QM_SINK_DUMP");

    for (const char* algorithm : {"rsa", "ed25519"}) {
        SCOPED_TRACE(algorithm);
        bool rsa = std::string(algorithm) == "rsa";
        std::string pem;
        ASSERT_TRUE(readFile(kKeys + (rsa ? "rsa.pem" : "ed25519.pem"), pem));
        dir.write("key.pem", pem);
        ::chmod(dir.file("key.pem").c_str(), 0600);
        for (const auto& f : listFiles(dump, "")) removeFile(dump + "/" + f);

        RunFields fields;
        RunRequest plain = test::plainRunRequest(test::peerPort("QM_SINK_PORT"));
        fields.delivery = plain.delivery;
        fields.delivery.threadCount = 2;
        CampaignMessage& m = fields.message;
        m.senderName = "Zoë Smith";
        m.senderAddress = "zoe@good.test";
        m.subject = "Grüße: spring offer";
        m.format = MessageFormat::Html;
        m.htmlText = "<HTML><BODY><P>Dear [**USER**],</P>\r\n<IMG src=\"" + dir.file("logo.gif") +
                     "\">\r\n.<P>a line that starts with a dot above</P></BODY></HTML>";
        m.useDynamicVariables = true;
        m.attachments.addFiles({dir.file("logo.gif"), dir.file("terms.pdf")});
        fields.recipientsText = "t1@x.test; t2@y.test";
        fields.groupsText = "Friends;";
        fields.dkim = {"good.test", rsa ? "rsa1" : "ed1", dir.file("key.pem"),
                       rsa ? DkimAlgorithm::Rsa : DkimAlgorithm::Ed25519};
        SettingsStore store(dir.file("settings"));
        RunBuild built = buildRunRequest(fields, store);
        ASSERT_TRUE(built.check.ok) << built.check.message;

        SendLogBuffer log;
        Ends ends;
        CampaignRun run(paths, log, ends);
        ASSERT_TRUE(run.start(std::move(built.request)));
        run.wait();
        ASSERT_EQ(ends.endings, std::vector<std::string>{"finished"});
        EXPECT_EQ(ends.summary.sent, 4u);

        auto files = listFiles(dump, "");
        ASSERT_EQ(files.size(), 4u);
        std::set<std::string> inlinePictures;
        for (const auto& f : files) {
            std::string text;
            ASSERT_TRUE(readFile(dump + "/" + f, text));
            // smtp-sink's own lines and Received come first, as a relay's would.
            EXPECT_EQ(verifyFile(dump + "/" + f), "sig0=pass") << f << "\n" << text;
            EXPECT_NE(text.find(rsa ? "a=rsa-sha256" : "a=ed25519-sha256"), std::string::npos);
            if (text.find("Content-ID:") != std::string::npos) inlinePictures.insert(f);

            std::string altered = text;
            std::size_t dear = altered.rfind("Dear ");
            ASSERT_NE(dear, std::string::npos) << text;
            altered.replace(dear, 5, "Dean ");
            dir.write("altered.eml", altered);
            EXPECT_EQ(verifyFile(dir.file("altered.eml")), "sig0=fail") << f;
        }
        EXPECT_EQ(inlinePictures.size(), 4u) << "every copy carries the inline picture";
    }
}

TEST(DkimTest, DnsKeygenCheckAndCheckDomain) {
    test::TempDir dir;
    dir.write("resolv.conf", "nameserver 127.0.0.1#" + test::peerEnv("QM_DNS_PORT") + "\n");
    const std::string env = "QUILLMARK_RESOLV_CONF=" + dir.file("resolv.conf") +
                            " QUILLMARK_CONFIG=" + dir.file("settings") +
                            " QUILLMARK_HOME=" + dir.file("home");

    // keygen: a 0600 key, the record in quoted strings of at most 255 characters, never replaced.
    using test::runCli;
    auto gen =
        runCli("dkim keygen --domain good.test --selector new --out " + dir.file("new.pem"), env);
    ASSERT_EQ(gen.status, 0) << gen.output;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("new.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(gen.output.find("new._domainkey.good.test. IN TXT ( \"v=DKIM1; k=rsa; p="),
              std::string::npos)
        << gen.output;
    std::size_t open = gen.output.find("( \"") + 3, close = gen.output.find("\" \"");
    EXPECT_EQ(close - open, 255u) << "a 2048-bit record splits after 255 characters";
    auto again = runCli("dkim keygen --domain good.test --selector new --algorithm ed25519 --out " +
                            dir.file("new.pem"),
                        env);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.output.find("exists already"), std::string::npos) << again.output;
    auto ed = runCli("dkim keygen --domain good.test --selector e --algorithm ed25519 --out " +
                         dir.file("e.pem"),
                     env);
    EXPECT_NE(ed.output.find("\"v=DKIM1; k=ed25519; p="), std::string::npos) << ed.output;

    // dkim check: the published key against the private key.
    std::string pem;
    ASSERT_TRUE(readFile(kKeys + "rsa.pem", pem));
    dir.write("rsa.pem", pem);
    ::chmod(dir.file("rsa.pem").c_str(), 0600);
    ASSERT_TRUE(readFile(kKeys + "ed25519.pem", pem));
    dir.write("ed.pem", pem);
    ::chmod(dir.file("ed.pem").c_str(), 0600);
    struct {
        std::string args;
        int status;
        const char* says;
    } checks[] = {
        {"--selector rsa1 --key " + dir.file("rsa.pem"), 0, "DKIM: pass: k=rsa key published"},
        {"--selector ed1 --key " + dir.file("ed.pem"), 0, "matching the private key"},
        {"--selector rsa1 --key " + dir.file("ed.pem"), 1, "does not match"},
        {"--selector new --key " + dir.file("new.pem"), 1, "no key record"},
        {"--selector gone --key " + dir.file("rsa.pem"), 1, "revoked"},
    };
    for (const auto& c : checks) {
        auto r = runCli("dkim check --domain good.test " + c.args, env);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
    ::chmod(dir.file("rsa.pem").c_str(), 0644);
    auto open644 =
        runCli("dkim check --domain good.test --selector rsa1 --key " + dir.file("rsa.pem"), env);
    EXPECT_EQ(open644.status, 1);
    EXPECT_NE(open644.output.find("has mode 0644"), std::string::npos) << open644.output;

    // check-domain: one verdict line per check, exit 1 when any failed.
    struct {
        const char* args;
        int status;
        const char* output;
    } domains[] = {
        {"good.test --selector ed1", 0,
         "SPF: pass: \"v=spf1 ip4:127.0.0.1 -all\" ends in -all: others are refused\n"
         "DMARC: pass: p=reject at _dmarc.good.test\n"
         "DKIM: pass: k=ed25519 key published at ed1._domainkey.good.test\n"},
        {"soft.test", 0,
         "SPF: warn: \"v=spf1 a mx ?all\" ends in ?all: others are neither refused nor accepted; "
         "use ~all or -all\n"
         "DMARC: warn: p=none at _dmarc.soft.test: reports only, nothing is held back\n"},
        {"twospf.test", 1,
         "SPF: FAIL: 2 v=spf1 records at twospf.test: receivers treat more than one as an error "
         "(permerror)\n"
         "DMARC: FAIL: no v=DMARC1 record at _dmarc.twospf.test: large mailbox providers ask "
         "bulk senders for one\n"},
        {"open.test --selector rsa1", 1,
         "SPF: FAIL: \"v=spf1 +all\" ends in +all: anyone may send for the domain\n"
         "DMARC: FAIL: 2 v=DMARC1 records at _dmarc.open.test: receivers ignore them all\n"
         "DKIM: FAIL: no key record at rsa1._domainkey.open.test: signatures cannot be verified\n"},
        {"example.org", 1,
         "SPF: FAIL: the TXT lookup of example.org failed: the DNS server reported a failure\n"
         "DMARC: FAIL: the TXT lookup of _dmarc.example.org failed: the DNS server reported a "
         "failure\n"},
    };
    for (const auto& d : domains) {
        auto r = runCli(std::string("check-domain ") + d.args, env);
        EXPECT_EQ(r.status, d.status) << d.args;
        EXPECT_EQ(r.output, d.output) << d.args;
    }
}

}  // namespace
}  // namespace qm
