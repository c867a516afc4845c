// What the spam analyser said about a message: the verdict, the score line and the rule rows.
//
// Entry points: parseAnalyserOutput() over the whole of output.txt; verdictFor() and helpText()
// for the "Help" screen.
//
// The analyser's output is relied on for three things only: a rewritten "Subject: *****SPAM*****"
// header when it judges the message spam; a paragraph opening "Content analysis details:" whose
// first line gives "(N points, 0.0 required)"; and, after an empty line, a block of rule lines
// (points, rule name, description) ended by an empty line. Every line of that block becomes a
// row, the analyser's own column title and dash lines included; a description that wraps onto an
// indented line gives a row of its own with that text as its description. Rule order is whatever
// the analyser printed (it varies from run to run).
//
// Failure: none. Output that is empty, cut short or of another shape reads as "not spam", or as
// spam with a score of 0 and no rows when the summary is missing.
// Limits: linear in the output; rows are capped at kMaxReportRows.
// Threads: pure functions.
// Standard: the report layout of SpamAssassin 3 and 4 (report_safe on or off, LF or CR LF).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum class SpamRowKind { Rule, ColumnTitle, Dashes, Continuation };

struct SpamRow {
    std::string score;
    std::string rule;
    std::string description;
    SpamRowKind kind = SpamRowKind::Rule;
};

struct SpamReport {
    bool spam = false;
    double score = 0.0;
    std::string scoreText = "0.0";  // as the analyser printed it
    std::string scoreLine;          // "Content analysis details: Your spam score is : N points."
    std::vector<SpamRow> rows;
};

inline constexpr std::size_t kMaxReportRows = 10000;
inline constexpr std::string_view kSpamSubjectLine = "Subject: *****SPAM*****";
inline constexpr std::string_view kMsgNotSpam = "Message is not Spam.";

SpamReport parseAnalyserOutput(std::string_view output);

enum class SpamVerdict { Good, Poor };
// Poor above 6.3, good at 6.3 and below.
SpamVerdict verdictFor(double score);
std::string_view helpText(SpamVerdict verdict);

// The published list of the analyser's rules (version 3.2), shown under the help text.
inline constexpr std::string_view kRuleListUrl =
    "https://spamassassin.apache.org/old/tests_3_2_x.html";

}  // namespace qm
