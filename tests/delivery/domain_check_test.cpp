// The sender-domain verdicts over fetched TXT records, and a run that will not start with a key
// others may read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/file_util.h"
#include "config/settings.h"
#include "delivery/domain_check.h"
#include "delivery/run_request.h"
#include "support/run_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

DnsAnswer txt(std::vector<std::string> records) {
    DnsAnswer a;
    a.status = records.empty() ? DnsStatus::None : DnsStatus::Found;
    a.records = std::move(records);
    return a;
}

const DnsAnswer kFailed{DnsStatus::TemporaryFailure, {}, kDnsNoAnswer};

TEST(DomainCheck, SpfDmarcAndDkimVerdicts) {
    struct {
        const char* name;
        DomainCheckLine line;
        CheckVerdict want;
        const char* says;
    } cases[] = {
        {"SPF -all", spfVerdict("d.test", txt({"other", "v=spf1 ip4:1.2.3.4 -all"})),
         CheckVerdict::Pass, "ends in -all"},
        {"SPF ~all, any case", spfVerdict("d.test", txt({"V=SPF1 mx ~ALL"})), CheckVerdict::Pass,
         "~ALL"},
        {"SPF redirect", spfVerdict("d.test", txt({"v=spf1 redirect=_spf.d.test"})),
         CheckVerdict::Pass, "hands over"},
        {"SPF ?all", spfVerdict("d.test", txt({"v=spf1 a ?all"})), CheckVerdict::Warn, "?all"},
        {"SPF without all", spfVerdict("d.test", txt({"v=spf1 a mx"})), CheckVerdict::Warn,
         "no \"all\""},
        {"SPF +all", spfVerdict("d.test", txt({"v=spf1 +all"})), CheckVerdict::Fail, "anyone"},
        {"SPF two records", spfVerdict("d.test", txt({"v=spf1 -all", "v=spf1 ~all"})),
         CheckVerdict::Fail, "2 v=spf1 records"},
        {"SPF none", spfVerdict("d.test", txt({"v=spf10 -all", "hello"})), CheckVerdict::Fail,
         "no v=spf1 record"},
        {"SPF lookup failed", spfVerdict("d.test", kFailed), CheckVerdict::Fail,
         "no answer from the DNS server"},
        {"DMARC reject", dmarcVerdict("d.test", txt({"v=DMARC1; p=reject; rua=mailto:a@d.test"})),
         CheckVerdict::Pass, "p=reject at _dmarc.d.test"},
        {"DMARC none", dmarcVerdict("d.test", txt({"v=DMARC1;p=none"})), CheckVerdict::Warn,
         "p=none"},
        {"DMARC no policy", dmarcVerdict("d.test", txt({"v=DMARC1; p=maybe"})), CheckVerdict::Fail,
         "no valid p="},
        {"DMARC missing", dmarcVerdict("d.test", txt({})), CheckVerdict::Fail, "no v=DMARC1"},
        {"DMARC two", dmarcVerdict("d.test", txt({"v=DMARC1; p=none", "v=DMARC1; p=reject"})),
         CheckVerdict::Fail, "2 v=DMARC1"},
        {"DKIM published", dkimVerdict("s._domainkey.d.test", txt({"v=DKIM1; k=rsa; p=QUJD"}), ""),
         CheckVerdict::Pass, "k=rsa key published"},
        {"DKIM matches", dkimVerdict("n", txt({"v=DKIM1; k=ed25519; p=QU JD"}), "QUJD"),
         CheckVerdict::Pass, "matching"},
        {"DKIM differs", dkimVerdict("n", txt({"v=DKIM1; p=QUJD"}), "QUJE"), CheckVerdict::Fail,
         "does not match"},
        {"DKIM revoked", dkimVerdict("n", txt({"v=DKIM1; p="}), ""), CheckVerdict::Fail, "revoked"},
        {"DKIM missing", dkimVerdict("n", txt({}), ""), CheckVerdict::Fail, "no key record"},
        {"DKIM broken", dkimVerdict("n", txt({"v=DKIM1; k=rsa"}), ""), CheckVerdict::Fail,
         "no p= tag"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.line.verdict, c.want) << c.name << ": " << c.line.text;
        EXPECT_NE(c.line.text.find(c.says), std::string::npos) << c.name << ": " << c.line.text;
    }
    EXPECT_EQ(formatCheckLine({"SPF", CheckVerdict::Fail, "x"}), "SPF: FAIL: x");
    EXPECT_FALSE(anyFailed({{"SPF", CheckVerdict::Pass, ""}, {"DMARC", CheckVerdict::Warn, ""}}));
}

TEST(DomainCheck, TxtRecordsJoinTheirStrings) {
    // One TXT answer for s._domainkey.a.test holding "v=DKIM1; p", "=QUJD" and "".
    std::string packet;
    readFile(std::string(QM_TEST_SOURCE_DIR) +
                 "/../fuzz/regressions/sender_records/txt_packet_two_strings",
             packet);
    ASSERT_FALSE(packet.empty());
    EXPECT_EQ(renderTextAnswer(packet.substr(1)), std::vector<std::string>{"v=DKIM1; p=QUJD"});
    EXPECT_TRUE(renderAnswer(packet.substr(1), 16).empty()) << "the dns commands show no TXT";
    EXPECT_TRUE(renderTextAnswer(packet.substr(1, 20)).empty()) << "a cut packet gives nothing";
}

TEST(DomainCheck, RunDoesNotStartWithAKeyOthersMayRead) {
    test::TempDir dir;
    std::string pem;
    ASSERT_TRUE(readFile(std::string(QM_TEST_SOURCE_DIR) + "/../peers/dkim/rsa.pem", pem));
    dir.write("k.pem", pem);
    SettingsStore store(dir.file("settings"));
    for (mode_t mode : {0644, 0600}) {
        ::chmod(dir.file("k.pem").c_str(), mode);
        RunFields fields;
        RunRequest plain = test::plainRunRequest(25, {"bob@x.test"});
        fields.message = plain.message;
        fields.delivery = plain.delivery;
        fields.recipientsText = "bob@x.test";
        fields.dkim = {"good.test", "rsa1", dir.file("k.pem"), DkimAlgorithm::Rsa};
        RunBuild built = buildRunRequest(fields, store);
        if (mode == 0644) {
            EXPECT_FALSE(built.check.ok);
            EXPECT_NE(built.check.message.find("has mode 0644"), std::string::npos)
                << built.check.message;
            EXPECT_NE(built.check.message.find("Nothing was sent."), std::string::npos);
        } else {
            EXPECT_TRUE(built.check.ok) << built.check.message;
            EXPECT_TRUE(built.request.sources.dkim);
        }
    }
}

}  // namespace
}  // namespace qm
