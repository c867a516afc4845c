// The analyser's report read back: captured SpamAssassin 4 output files and cut-down variants of
// them (the score changed, rules reordered, CR LF line ends).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "spamcheck/spam_report.h"

namespace qm {
namespace {

std::string captured(const std::string& name) {
    std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/captured/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_FALSE(s.str().empty()) << name;
    return s.str();
}

constexpr std::string_view kScorePrefix = "Content analysis details: Your spam score is : ";

struct ScoreCase {
    const char* file;
    double score;
    const char* scoreText;
    SpamVerdict verdict;
};

TEST(SpamReport, ScoreLineAndVerdictFromCapturedOutput) {
    const ScoreCase cases[] = {
        {"sa4_spam_wrapped.txt", 4.3, "4.3", SpamVerdict::Good},
        {"sa4_spam_7_1_crlf.txt", 7.1, "7.1", SpamVerdict::Poor},
        {"sa4_spam_6_3.txt", 6.3, "6.3", SpamVerdict::Good},
        // The first "0.0" of this summary is inside the score itself.
        {"sa4_spam_10_0.txt", 10.0, "10.0", SpamVerdict::Poor},
    };
    for (const ScoreCase& c : cases) {
        SCOPED_TRACE(c.file);
        SpamReport r = parseAnalyserOutput(captured(c.file));
        EXPECT_TRUE(r.spam);
        EXPECT_DOUBLE_EQ(r.score, c.score);
        EXPECT_EQ(r.scoreLine, std::string(kScorePrefix) + c.scoreText + " points.");
        EXPECT_EQ(verdictFor(r.score), c.verdict);
    }
}

TEST(SpamReport, EveryLineOfTheRuleBlockIsARow) {
    SpamReport r = parseAnalyserOutput(captured("sa4_spam_wrapped.txt"));
    ASSERT_EQ(r.rows.size(), 9u);
    EXPECT_EQ(r.rows[0].kind, SpamRowKind::ColumnTitle);
    EXPECT_EQ(r.rows[0].score, "pts");
    EXPECT_EQ(r.rows[1].kind, SpamRowKind::Dashes);
    EXPECT_EQ(r.rows[2].score, "2.7");
    EXPECT_EQ(r.rows[2].rule, "MISSING_DATE");
    EXPECT_EQ(r.rows[2].description, "Missing Date: header");
    EXPECT_EQ(r.rows[3].score, "-0.0");
    EXPECT_EQ(r.rows[3].rule, "NO_RECEIVED");
    // The wrapped description becomes a row of its own, its text in the description column.
    EXPECT_EQ(r.rows[6].rule, "FREEMAIL_FROM");
    EXPECT_EQ(r.rows[7].kind, SpamRowKind::Continuation);
    EXPECT_EQ(r.rows[7].score, "");
    EXPECT_EQ(r.rows[7].description, "[newsletter.offers(at)gmail.com]");
    EXPECT_EQ(r.rows[8].rule, "NO_RELAYS");
}

TEST(SpamReport, RuleOrderAndLineEndsDoNotMatter) {
    SpamReport r = parseAnalyserOutput(captured("sa4_spam_7_1_crlf.txt"));
    ASSERT_EQ(r.rows.size(), 9u);
    EXPECT_EQ(r.rows[2].rule, "MISSING_MID");
    EXPECT_EQ(r.rows[4].rule, "MISSING_DATE");
    EXPECT_EQ(r.rows[4].description, "Missing Date: header");  // no CR left behind
}

TEST(SpamReport, OddOutputs) {
    struct Case {
        const char* name;
        std::string output;
        bool spam;
        const char* scoreText;
        std::size_t rows;
    };
    const std::string marked = "Subject: *****SPAM***** hi\nX-Spam-Flag: YES\n\n";
    const Case cases[] = {
        {"empty", "", false, "0.0", 0},
        {"a report but no rewritten subject",
         "Subject: hi\n\nContent analysis details:   (9.9 points, 0.0 required)\n\n 9.9 X y\n\n",
         false, "0.0", 0},
        {"marker only in the body",
         "Subject: hi\n\nSubject: *****SPAM*****\nContent analysis details:   (9.9 points, 0.0 "
         "required)\n\n 9.9 X y\n\n",
         false, "0.0", 0},
        {"marked, no summary", marked + "body\n", true, "0.0", 0},
        {"summary of another shape", marked + "Content analysis details: lots\n\n 1.0 A b\n\n",
         true, "0.0", 1},
        {"score 0", marked + "Content analysis details:   (0.0 points, 0.0 required)\n\n", true,
         "0.0", 0},
        {"a score that is no number",
         marked + "Content analysis details:   (nan points, 0.0 required)\n\n 1.0 A b\n\n", true,
         "0.0", 1},
        {"an infinite score",
         marked + "Content analysis details:   (-inf points, 0.0 required)\n\n", true, "0.0", 0},
        {"cut off inside the rule block",
         marked + "Content analysis details:   (2.5 points, 0.0 required)\n\n 2.5 RULE_A text",
         true, "2.5", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpamReport r = parseAnalyserOutput(c.output);
        EXPECT_EQ(r.spam, c.spam);
        EXPECT_EQ(r.scoreLine, std::string(kScorePrefix) + c.scoreText + " points.");
        EXPECT_EQ(r.rows.size(), c.rows);
    }
}

TEST(SpamReport, RowsAreCapped) {
    std::string out =
        "Subject: *****SPAM***** x\n\nContent analysis details:   (1.0 points, 0.0 "
        "required)\n\n";
    for (std::size_t i = 0; i < kMaxReportRows + 50; ++i) out += " 0.1 R d\n";
    EXPECT_EQ(parseAnalyserOutput(out).rows.size(), kMaxReportRows);
}

TEST(SpamReport, HelpTextFollowsTheVerdict) {
    EXPECT_NE(helpText(verdictFor(6.4)).find("to be poor"), std::string_view::npos);
    EXPECT_NE(helpText(verdictFor(6.3)).find("to be good"), std::string_view::npos);
}

}  // namespace
}  // namespace qm
