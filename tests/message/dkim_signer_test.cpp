// DKIM signing: the relaxed canonical forms, the key checks a run relies on, and signed builds of
// every message shape checked by an independent verifier (dkimpy), untouched and altered.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/file_util.h"
#include "message/dkim_signer.h"
#include "message/fill_message.h"
#include "message/html_tools.h"
#include "message/mime_message.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const std::string kKeys = std::string(QM_TEST_SOURCE_DIR) + "/../peers/dkim/";

TEST(DkimCanonical, RelaxedHeaderAndBody) {
    struct {
        const char* field;
        const char* want;
    } headers[] = {
        {"A: X", "a:X"},                                     // the RFC's own example
        {"B : Y\t\r\n\tZ  ", "b:Y Z"},                       // unfolded, WSP runs to one SP
        {"Subject:  two   words ", "subject:two words"},     // WSP after the colon and at the end
        {"From:Ann <ann@x.test>", "from:Ann <ann@x.test>"},  // no space needed after the colon
        {"X-Empty:", "x-empty:"},
        {"X-Blank: \t ", "x-blank:"},  // a value of WSP only
        // Only the colon after the name loses its WSP: those inside the value keep one SP.
        {"Subject: Re: hi", "subject:Re: hi"},
        {"Subject:Re:\t\thi  there\t", "subject:Re: hi there"},
        {"DKIM-Signature: v=1; h=From:Content-Type:\r\n\tList-Unsubscribe;\r\n\tb=",
         "dkim-signature:v=1; h=From:Content-Type: List-Unsubscribe; b="},
        {"List-Unsubscribe:\r\n <mailto:u@x.test?subject=unsubscribe>",
         "list-unsubscribe:<mailto:u@x.test?subject=unsubscribe>"},
        {"To: \"A: B\" <a@x.test> \t\r\n ", "to:\"A: B\" <a@x.test>"},  // trailing folded WSP
    };
    for (const auto& c : headers) EXPECT_EQ(relaxedHeader(c.field), c.want) << c.field;

    struct {
        const char* name;
        std::string body;
        std::string want;
    } bodies[] = {
        {"the RFC's own example", " C \r\nD \t E\r\n\r\n\r\n", " C\r\nD E\r\n"},
        {"empty lines inside stay", "a\r\n\r\n \r\nb\r\n", "a\r\n\r\n\r\nb\r\n"},
        {"a last line without CR LF gets one", "a\r\nb", "a\r\nb\r\n"},
        {"only empty lines is empty", "\r\n \t\r\n\r\n", ""},
        {"empty", "", ""},
        {"the builder's one-tab body is empty", "\t\r\n", ""},
        // The wire carries a bare CR or LF as CR LF: so does the hash.
        {"bare line ends", "a\nb\rc\r\r\nd\r", "a\r\nb\r\nc\r\n\r\nd\r\n"},
        // Empty lines held across the 64 KB pieces the hash is fed in.
        {"pieces", std::string(70000, 'x') + "\r\n\r\n\r\ny\r\n",
         std::string(70000, 'x') + "\r\n\r\n\r\ny\r\n"},
    };
    for (const auto& c : bodies) EXPECT_EQ(relaxedBody(c.body), c.want) << c.name;
}

TEST(DkimKeys, OnlyPrivateStrongKeysOfTheChosenAlgorithmLoad) {
    test::TempDir dir;
    auto copy = [&](const std::string& from, const std::string& name, mode_t mode) {
        std::string text;
        EXPECT_TRUE(readFile(kKeys + from, text));
        dir.write(name, text);
        ::chmod(dir.file(name).c_str(), mode);
        return dir.file(name);
    };
    struct {
        const char* name;
        std::string file;
        DkimAlgorithm algorithm;
        std::string domain;
        const char* error;  // nullptr: loads
    } cases[] = {
        {"RSA 2048, 0600", copy("rsa.pem", "a.pem", 0600), DkimAlgorithm::Rsa, "good.test",
         nullptr},
        {"Ed25519, 0400", copy("ed25519.pem", "b.pem", 0400), DkimAlgorithm::Ed25519, "good.test",
         nullptr},
        {"readable by all", copy("rsa.pem", "c.pem", 0644), DkimAlgorithm::Rsa, "good.test",
         "has mode 0644"},
        {"readable by the group", copy("rsa.pem", "d.pem", 0640), DkimAlgorithm::Rsa, "good.test",
         "has mode 0640"},
        {"RSA 1024", copy("rsa1024.pem", "e.pem", 0600), DkimAlgorithm::Rsa, "good.test",
         "1024 bits; 2048 or more"},
        {"Ed25519 key, RSA chosen", copy("ed25519.pem", "f.pem", 0600), DkimAlgorithm::Rsa,
         "good.test", "not an RSA key"},
        {"not a key", copy("rsa.txt", "g.pem", 0600), DkimAlgorithm::Rsa, "good.test",
         "no private key"},
        {"no such file", dir.file("missing.pem"), DkimAlgorithm::Rsa, "good.test", "No such file"},
        {"a domain that would break the header", copy("rsa.pem", "h.pem", 0600), DkimAlgorithm::Rsa,
         "good.test;\r\n\tb=x", "not a domain name"},
    };
    for (const auto& c : cases) {
        std::string error;
        auto signer = DkimSigner::load({c.domain, "s1", c.file, c.algorithm}, error);
        if (!c.error) {
            EXPECT_TRUE(signer) << c.name << ": " << error;
            continue;
        }
        EXPECT_FALSE(signer) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
}

// Writes the message, runs dkimpy over it with the published records of tests/peers/dkim, and
// returns its verdict line ("sig0=pass" ...).
std::string verify(test::TempDir& dir, const std::string& message) {
    dir.write("msg.eml", message);
    std::string cmd = "/usr/bin/python3 " + kKeys + "dkverify.py rsa1=" + kKeys +
                      "rsa.txt ed1=" + kKeys + "ed25519.txt < " + dir.file("msg.eml") + " 2>&1";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(DkimSign, EveryShapeVerifiesAndAnAlteredCopyFails) {
    test::TempDir dir;
    dir.write("logo.gif", "GIF89a\x01\x00\x01\x00 picture bytes");
    dir.write("terms.pdf", std::string(5000, 'p'));
    CampaignMessage plain;
    plain.senderName = "Ann";
    plain.senderAddress = "ann@good.test";
    plain.subject = "Hello";
    plain.format = MessageFormat::PlainText;
    plain.body = "Dear Bob,\r\n  trailing blanks   \r\n\r\n";
    CampaignMessage rich = plain;
    rich.senderName = "Zoë Ärger";
    rich.subject = "Grüße — spring offer";
    rich.format = MessageFormat::Html;
    rich.body = "<P>Price = 10</P><IMG src=\"" + dir.file("logo.gif") + "\">\r\n<P>.dot</P>";
    rich.attachments.addFiles({dir.file("logo.gif"), dir.file("terms.pdf")});
    rewriteInlineImages(rich.body, rich.attachments);

    for (DkimAlgorithm algorithm : {DkimAlgorithm::Rsa, DkimAlgorithm::Ed25519}) {
        bool rsa = algorithm == DkimAlgorithm::Rsa;
        std::string pem;
        ASSERT_TRUE(readFile(kKeys + (rsa ? "rsa.pem" : "ed25519.pem"), pem));
        std::string error;
        auto signer =
            DkimSigner::fromPem({"good.test", rsa ? "rsa1" : "ed1", "", algorithm}, pem, error);
        ASSERT_TRUE(signer) << error;
        for (const CampaignMessage* m : {&plain, &rich}) {
            SCOPED_TRACE(std::string(dkimAlgorithmName(algorithm)) + " " + m->subject);
            MimeMessage msg;
            fillMimeMessage(msg, *m, "bob@x.test", m->body);
            msg.build();
            std::string unsignedHead = msg.headerBlock;
            signMessage(*signer, msg);
            ASSERT_TRUE(msg.headerBlock.starts_with("DKIM-Signature: v=1; a=")) << msg.headerBlock;
            std::string sig =
                msg.headerBlock.substr(0, msg.headerBlock.size() - unsignedHead.size());
            EXPECT_NE(sig.find(rsa ? "a=rsa-sha256" : "a=ed25519-sha256"), std::string::npos);
            // Only fields that are there are listed; the root part's Content-Type is one of them.
            EXPECT_NE(sig.find("h=From:To:Subject:Date:Message-ID:MIME-Version:Content-Type;"),
                      std::string::npos)
                << sig;
            for (std::size_t at = 0, eol; (eol = sig.find("\r\n", at)) != std::string::npos;
                 at = eol + 2)
                EXPECT_LE(eol - at, 78u) << "signature lines stay short";

            std::string wire = msg.headerBlock + msg.body;
            EXPECT_EQ(verify(dir, wire), "sig0=pass");
            // A relay's own header on top changes nothing.
            EXPECT_EQ(verify(dir, "Received: from relay\r\n" + wire), "sig0=pass");

            std::string body = msg.headerBlock + msg.body;
            body[body.size() - 10] ^= 1;
            EXPECT_NE(verify(dir, body), "sig0=pass") << "a changed body";
            std::string subject = wire;
            subject.replace(subject.find("Subject: ") + 9, 1, "X");
            EXPECT_NE(verify(dir, subject), "sig0=pass") << "a changed subject";
        }
    }
    EXPECT_EQ(verify(dir, "From: a@good.test\r\n\r\nunsigned\r\n"), "") << "no signature, no pass";
}

TEST(DkimSign, ABodyInPiecesIsSignedAsTheWholeIs) {
    std::string pem;
    ASSERT_TRUE(readFile(kKeys + "ed25519.pem", pem));
    std::string error;
    auto signer = DkimSigner::fromPem({"good.test", "ed1", "", DkimAlgorithm::Ed25519}, pem, error);
    ASSERT_TRUE(signer) << error;
    // The header section ends inside the body, as the builder leaves the root part's header
    // lines there; WSP runs, empty lines and bare line ends are each cut at every place.
    const std::string body =
        "Content-Type: text/plain\r\n\r\n  lead\r\nmid \t run  \r\n\r\n\r\nbare\nlf\rcr\r\n \r\n";
    for (std::string head : {"From: <a@good.test>\r\nSubject: x\r\n",
                             "From: <a@good.test>\r\n\r\nsome body\r\n", "From: <a@good.test>"}) {
        const std::string whole = signer->signatureHeader(head, body, 1700000000);
        ASSERT_FALSE(whole.empty());
        for (std::size_t i = 0; i <= body.size(); ++i)
            for (std::size_t j = i; j <= body.size(); ++j) {
                const std::string_view b = body;
                const std::string_view pieces[] = {b.substr(0, i), b.substr(i, j - i), b.substr(j)};
                ASSERT_EQ(signer->signatureHeader(head, pieces, 1700000000), whole)
                    << "cut at " << i << " and " << j << " after " << head;
            }
    }
}

TEST(DkimSign, ListUnsubscribeIsSignedWhenPresent) {
    std::string pem;
    ASSERT_TRUE(readFile(kKeys + "ed25519.pem", pem));
    std::string error;
    auto signer = DkimSigner::fromPem({"good.test", "ed1", "", DkimAlgorithm::Ed25519}, pem, error);
    ASSERT_TRUE(signer) << error;
    std::string head =
        "From: <ann@good.test>\r\nTo: <bob@x.test>\r\nSubject: Hi\r\n"
        "List-Unsubscribe: <mailto:ann@good.test?subject=Unsubscribe-G>,\r\n"
        " <https://good.test/u?a=bob>\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n";
    std::string sig = signer->signatureHeader(head, "\r\nHello\r\n", 1700000000);
    EXPECT_NE(sig.find("List-Unsubscribe:"), std::string::npos) << sig;
    EXPECT_NE(sig.find("List-Unsubscribe-Post;"), std::string::npos) << sig;
    EXPECT_EQ(sig.find("Date"), std::string::npos) << "absent fields are not listed: " << sig;
    test::TempDir dir;
    std::string wire = sig + head + "\r\nHello\r\n";
    EXPECT_EQ(verify(dir, wire), "sig0=pass");
    std::string changed = wire;
    changed.replace(changed.find("a=bob"), 5, "a=eve");
    EXPECT_NE(verify(dir, changed), "sig0=pass") << "a changed unsubscribe link";
}

TEST(DkimKeys, GeneratedKeysSignAndPublishTheirRecord) {
    for (DkimAlgorithm algorithm : {DkimAlgorithm::Rsa, DkimAlgorithm::Ed25519}) {
        DkimKeyPair pair;
        std::string error;
        ASSERT_TRUE(generateDkimKey(algorithm, kMinRsaBits, pair, error)) << error;
        auto signer =
            DkimSigner::fromPem({"good.test", "k", "", algorithm}, pair.privatePem, error);
        ASSERT_TRUE(signer) << error;
        EXPECT_EQ(signer->publicKeyBase64(), pair.publicBase64);
        std::string record = dkimTxtRecord(algorithm, pair.publicBase64);
        DkimRecord parsed = parseDkimRecord(record);
        EXPECT_TRUE(parsed.valid) << parsed.error;
        EXPECT_EQ(parsed.keyType, dkimAlgorithmName(algorithm));
        EXPECT_EQ(parsed.publicBase64, pair.publicBase64);

        test::TempDir dir;
        dir.write("k.txt", record);
        std::string sig = signer->signatureHeader("From: <a@good.test>\r\n", "\r\nx\r\n", 1);
        std::string cmd = "/usr/bin/python3 " + kKeys + "dkverify.py k=" + dir.file("k.txt");
        dir.write("m.eml", sig + "From: <a@good.test>\r\n\r\nx\r\n");
        EXPECT_EQ(std::system((cmd + " < " + dir.file("m.eml") + " >/dev/null").c_str()), 0);
    }
    DkimKeyPair weak;
    std::string error;
    EXPECT_FALSE(generateDkimKey(DkimAlgorithm::Rsa, 1024, weak, error));

    // Zone files take at most 255 characters per string.
    std::string quoted = quotedTxtStrings(std::string(300, 'a'));
    EXPECT_EQ(quoted, "\"" + std::string(255, 'a') + "\" \"" + std::string(45, 'a') + "\"");

    struct {
        const char* record;
        bool valid;
        const char* key;
    } records[] = {
        {"v=DKIM1; k=rsa; p=QUJD", true, "QUJD"},
        {"p=QU JD", true, "QUJD"},
        {"v=DKIM1; p=", true, ""},  // revoked
        {"k=rsa; v=DKIM1; p=QUJD", false, ""},
        {"v=DKIM1; k=rsa", false, ""},
        {"v=DKIM1; p=@@@@", false, ""},
    };
    for (const auto& r : records) {
        DkimRecord parsed = parseDkimRecord(r.record);
        EXPECT_EQ(parsed.valid, r.valid) << r.record;
        if (r.valid) {
            EXPECT_EQ(parsed.publicBase64, r.key) << r.record;
        }
    }
}

}  // namespace
}  // namespace qm
