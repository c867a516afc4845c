// DKIM end to end: every message of a signed campaign, as smtp-sink received it, verifies with
// dkimpy for RSA and Ed25519, and an altered copy does not; every shape of signed message (with and
// without List-Unsubscribe, long group names, both text parts, attachments) verifies with dkimpy
// and with a second verifier: Perl's Mail::DKIM (RSA) and opendkim-testmsg (Ed25519); the command
// line's keygen, dkim check and check-domain against records served by dnsmasq.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "cli_run.h"
#include "common/file_util.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/run_request.h"
#include "delivery/send_log_buffer.h"
#include "groups/group_files.h"
#include "message/mail_shape.h"
#include "peer_env.h"
#include "support/run_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const std::string kPeers = QM_PEERS_DIR;
const std::string kKeys = kPeers + "/dkim/";

// What a shell command prints on its standard output, and its exit status.
std::string commandOutput(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int st = ::pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

// dkimpy's verdict over one file: "sig0=pass", "sig0=fail"...
std::string verifyFile(const std::string& path) {
    std::string out =
        commandOutput("/usr/bin/python3 " + kKeys + "dkverify.py rsa1=" + kKeys +
                      "rsa.txt ed1=" + kKeys + "ed25519.txt < " + path + " 2>/dev/null");
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

// The unfolded value of the first `name:` field of a received message's header, nullopt if absent.
std::optional<std::string> headerValue(const std::string& text, std::string_view name) {
    std::string lf;
    for (char c : text)
        if (c != '\r') lf += c;
    std::size_t start = lf.find("\nDKIM-Signature:");  // the message proper starts there
    if (start == std::string::npos) return std::nullopt;
    const std::string head = lf.substr(start + 1, lf.find("\n\n", start) - start);
    const std::string want = std::string(name) + ":";
    for (std::size_t pos = 0; pos < head.size();) {
        std::size_t eol = head.find('\n', pos);
        if (head.compare(pos, want.size(), want) == 0) {
            std::string value = head.substr(pos + want.size(), eol - pos - want.size());
            while (eol + 1 < head.size() && (head[eol + 1] == ' ' || head[eol + 1] == '\t')) {
                std::size_t next = head.find('\n', eol + 1);
                value += head.substr(eol + 1, next - eol - 1);
                eol = next;
            }
            return value;
        }
        pos = eol + 1;
    }
    return std::nullopt;
}

// Every shape of signed message verifies with dkimpy and a second verifier. Each of the 24 runs
// (algorithm x List-Unsubscribe x text part x attachments) goes to a group with a long name, a
// non-ASCII one and a typed address, so every shape is also signed with and without a long group
// name in its unsubscribe fields. List-Id goes with every shape but the mailto-only one, so it is
// signed beside each unsubscribe shape and alone, with a long and a non-ASCII group name. The
// trigger of the folded h= tag is checked to occur.
TEST(DkimTest, MatrixEveryShapeVerifiesWithTwoVerifiers) {
    test::TempDir dir;
    Paths paths{dir.file("qm")};
    ASSERT_TRUE(paths.ensureFolders());
    const std::string longGroup =
        "Customers of the spring and summer season in the northern region two thousand";
    dir.write("qm/GroupRecipients/" + groupFileName(longGroup),
              "long@x.test,Lena,,,,,,,,,,,,E\r\n");
    const std::string fewGroup = "Fréquents d'été";
    dir.write("qm/GroupRecipients/" + groupFileName(fewGroup),
              "few@y.test,Fay Ünal,,,,,,,,,,,,E\r\n");
    dir.write("logo.gif", "GIF89a\x01\x00\x01\x00 a picture");
    dir.write("terms.pdf", std::string(3000, 'p') + "\r\n.\r\n" + std::string(100, 'q'));
    ASSERT_TRUE(makeFolders(dir.file("rsa")));
    ASSERT_TRUE(makeFolders(dir.file("ed")));
    const std::string dump = test::peerEnv("QM_SINK_DUMP");

    enum class Unsubscribe { None, Mailto, OneClick };
    const char* const unsubscribeNames[] = {"none", "mailto", "one-click"};
    std::vector<std::string> rsaFiles;
    std::map<std::string, std::string> edLabels;  // file name -> what it was sent as
    bool foldedH = false;
    bool longGroupInHeader = false;
    for (const char* algorithm : {"rsa", "ed25519"}) {
        bool rsa = std::string(algorithm) == "rsa";
        std::string pem;
        ASSERT_TRUE(readFile(kKeys + (rsa ? "rsa.pem" : "ed25519.pem"), pem));
        dir.write("key.pem", pem);
        ::chmod(dir.file("key.pem").c_str(), 0600);
        for (Unsubscribe unsubscribe :
             {Unsubscribe::None, Unsubscribe::Mailto, Unsubscribe::OneClick}) {
            for (TextPartStyle textPart : {TextPartStyle::HtmlSource, TextPartStyle::Readable}) {
                for (bool attach : {false, true}) {
                    const std::string label = std::string(algorithm) + "-" +
                                              unsubscribeNames[static_cast<int>(unsubscribe)] +
                                              "-" + std::string(textPartName(textPart)) +
                                              (attach ? "-attached" : "-bare");
                    SCOPED_TRACE(label);
                    for (const auto& f : listFiles(dump, "")) removeFile(dump + "/" + f);

                    RunFields fields;
                    fields.delivery =
                        test::plainRunRequest(test::peerPort("QM_SINK_PORT")).delivery;
                    CampaignMessage& m = fields.message;
                    m.senderName = "Zoë Smith";
                    m.senderAddress = "zoe@good.test";
                    m.subject = "Re: Grüße: spring offer";  // colons inside a value
                    m.format = MessageFormat::Html;
                    m.htmlText = "<HTML><BODY><P>Dear [**USER**],</P>\r\n<IMG src=\"" +
                                 dir.file("logo.gif") +
                                 "\">\r\n<P>Our offer: two for one.</P></BODY></HTML>";
                    m.useDynamicVariables = true;
                    if (attach) m.attachments.addFiles({dir.file("terms.pdf")});
                    if (unsubscribe != Unsubscribe::None) m.unsubscribeAddress = "u@good.test";
                    if (unsubscribe == Unsubscribe::OneClick)
                        m.unsubscribeUrl = "https://good.test/u?e=[**EMAIL**]&g=[**GROUP**]";
                    m.unsubscribeScope = UnsubscribeScope::SingleGroup;
                    m.textPart = textPart;
                    m.listId = unsubscribe != Unsubscribe::Mailto;
                    fields.recipientsText = "t1@x.test";
                    fields.groupsText = longGroup + ";" + fewGroup + ";";
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
                    auto files = listFiles(dump, "");
                    ASSERT_EQ(files.size(), 3u);
                    int n = 0;
                    int withListId = 0;
                    for (const auto& f : files) {
                        std::string text;
                        ASSERT_TRUE(readFile(dump + "/" + f, text));
                        EXPECT_EQ(verifyFile(dump + "/" + f), "sig0=pass") << text;

                        auto signature = headerValue(text, "DKIM-Signature");
                        auto listUnsubscribe = headerValue(text, "List-Unsubscribe");
                        auto post = headerValue(text, "List-Unsubscribe-Post");
                        ASSERT_TRUE(signature) << text;
                        EXPECT_EQ(listUnsubscribe.has_value(), unsubscribe != Unsubscribe::None)
                            << text;
                        EXPECT_EQ(post.has_value(), unsubscribe == Unsubscribe::OneClick) << text;
                        std::size_t h = signature->find(" h=");
                        if (signature->find("\t", h) < signature->find(";", h)) foldedH = true;
                        if (listUnsubscribe &&
                            listUnsubscribe->find("northern") != std::string::npos)
                            longGroupInHeader = true;
                        if (headerValue(text, "List-Id")) {
                            ++withListId;
                            EXPECT_NE(signature->find("List-Id"), std::string::npos) << text;
                        }

                        const std::string name = label + "-" + std::to_string(++n) + ".eml";
                        if (n == static_cast<int>(files.size())) {
                            EXPECT_EQ(withListId, m.listId ? 2 : 0) << "group copies only";
                        }
                        if (rsa) {
                            dir.write("rsa/" + name, text);
                            rsaFiles.push_back(dir.file("rsa/" + name));
                        } else {
                            // As a local delivery agent hands it over: the message alone, LF ends.
                            std::string message = text.substr(text.find("DKIM-Signature:"));
                            std::string lf;
                            for (std::size_t i = 0; i < message.size(); ++i)
                                if (!(message[i] == '\r' && i + 1 < message.size() &&
                                      message[i + 1] == '\n'))
                                    lf += message[i];
                            dir.write("ed/" + name, lf);
                            edLabels[name] = label;
                        }
                    }
                }
            }
        }
    }
    EXPECT_TRUE(foldedH) << "no message had its h= tag folded: the matrix missed the trigger";
    EXPECT_TRUE(longGroupInHeader) << "the long group name never reached List-Unsubscribe";
    ASSERT_EQ(rsaFiles.size(), 36u);
    ASSERT_EQ(edLabels.size(), 36u);

    // An altered copy of each algorithm, which each verifier must refuse.
    auto alter = [](std::string text) {
        std::size_t dear = text.rfind("Dear ");
        if (dear != std::string::npos) text.replace(dear, 5, "Dean ");
        return text;
    };
    std::string firstRsa;
    ASSERT_TRUE(readFile(rsaFiles.front(), firstRsa));
    dir.write("rsa/altered.eml", alter(firstRsa));
    std::string firstEd;
    ASSERT_TRUE(readFile(dir.file("ed/" + edLabels.begin()->first), firstEd));
    dir.write("ed/altered.eml", alter(firstEd));

    // Perl's Mail::DKIM, keys from the dnsmasq of the test servers.
    std::string cmd =
        "/usr/bin/perl " + kKeys + "mail_dkim_verify.pl " + test::peerEnv("QM_DNS_PORT");
    for (const auto& f : rsaFiles) cmd += " " + f;
    cmd += " " + dir.file("rsa/altered.eml") + " 2>&1";
    std::istringstream perlLines(commandOutput(cmd));
    std::size_t perlPassed = 0;
    for (std::string line; std::getline(perlLines, line);) {
        bool altered = line.starts_with(dir.file("rsa/altered.eml"));
        if (altered)
            EXPECT_NE(line.find(" fail"), std::string::npos) << line;
        else if (line.find(" pass") != std::string::npos)
            ++perlPassed;
        else
            ADD_FAILURE() << "Mail::DKIM: " << line;
    }
    EXPECT_EQ(perlPassed, rsaFiles.size());

    // opendkim-testmsg asks the system resolver only: a private network namespace with its own
    // DNS server keeps it off the machine's.
    if (::geteuid() != 0)
        GTEST_SKIP() << "opendkim-testmsg was not run over the Ed25519 messages: it needs root "
                        "for unshare --net --mount (dkimpy checked them all)";
    int status = -1;
    std::string out = commandOutput(
        "unshare --net --mount /bin/bash " + kKeys + "opendkim_ns.sh " + dir.file("ed") + " 2>&1",
        &status);
    if (status != 0 && out.find("unshare") != std::string::npos)
        GTEST_SKIP() << "opendkim-testmsg was not run over the Ed25519 messages: no private "
                        "namespaces here: "
                     << out;
    ASSERT_EQ(status, 0) << out;
    std::istringstream lines(out);
    std::size_t edPassed = 0;
    for (std::string line; std::getline(lines, line);) {
        std::string name = line.substr(0, line.find(' '));
        if (name == "altered.eml")
            EXPECT_NE(line, "altered.eml rc=0") << "opendkim-testmsg passed an altered message";
        else if (line.ends_with(" rc=0"))
            ++edPassed;
        else
            ADD_FAILURE() << "opendkim-testmsg: " << line << " (" << edLabels[name] << ")";
    }
    EXPECT_EQ(edPassed, edLabels.size());
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
