#include "spamcheck/spam_report.h"

#include <charconv>
#include <cmath>

namespace qm {

namespace {

constexpr std::string_view kDetails = "Content analysis details:";
constexpr std::string_view kScorePrefix = "Content analysis details: Your spam score is : ";

// Lines without their CR LF or LF; a bare CR ends nothing.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line =
            text.substr(pos, (end == std::string_view::npos ? text.size() : end) - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        pos = next;
    }
    return lines;
}

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::string_view skipBlanks(std::string_view s) {
    std::size_t i = s.find_first_not_of(" \t");
    return i == std::string_view::npos ? std::string_view() : s.substr(i);
}

std::string_view firstWord(std::string_view& s) {
    s = skipBlanks(s);
    std::size_t end = s.find_first_of(" \t");
    std::string_view word = s.substr(0, end);
    s = end == std::string_view::npos ? std::string_view() : s.substr(end);
    return word;
}

// The header section says spam when the analyser rewrote the subject. A body that merely quotes
// the marker (the original is attached below the report) does not count.
bool subjectMarked(const std::vector<std::string_view>& lines) {
    for (std::string_view line : lines) {
        if (line.empty()) return false;
        if (line.starts_with(kSpamSubjectLine)) return true;
    }
    return false;
}

// "   (7.1 points, 0.0 required)" -> "7.1". The score is read from its own place rather than cut
// at the first "0.0", which a score such as 10.0 also holds.
bool readSummaryScore(std::string_view rest, std::string& text, double& value) {
    std::size_t open = rest.find('(');
    if (open == std::string_view::npos) return false;
    std::string_view inner = skipBlanks(rest.substr(open + 1));
    std::size_t points = inner.find(" points");
    if (points == std::string_view::npos) return false;
    std::string_view number = inner.substr(0, points);
    double v = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    if (ec != std::errc() || end != number.data() + number.size()) return false;
    // "nan" and "inf" read as numbers but are no score: a NaN would compare as neither good nor
    // poor.
    if (!std::isfinite(v)) return false;
    text = std::string(number);
    value = v;
    return true;
}

SpamRow rowFor(std::string_view line) {
    SpamRow row;
    std::string_view rest = line;
    const bool indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    std::string_view first = firstWord(rest);
    // A wrapped description stands far to the right with no points before it.
    if (indented && line.size() - skipBlanks(line).size() > 8) {
        row.kind = SpamRowKind::Continuation;
        row.description = std::string(skipBlanks(line));
        return row;
    }
    row.score = std::string(first);
    row.rule = std::string(firstWord(rest));
    row.description = std::string(skipBlanks(rest));
    if (first.find_first_not_of('-') == std::string_view::npos && !first.empty())
        row.kind = SpamRowKind::Dashes;
    else if (first == "pts")
        row.kind = SpamRowKind::ColumnTitle;
    return row;
}

}  // namespace

SpamReport parseAnalyserOutput(std::string_view output) {
    SpamReport report;
    const std::vector<std::string_view> lines = splitLines(output);
    report.spam = subjectMarked(lines);
    report.scoreLine = std::string(kScorePrefix) + "0.0 points.";
    if (!report.spam) return report;

    std::size_t i = 0;
    while (i < lines.size() && !lines[i].starts_with(kDetails)) ++i;
    if (i == lines.size()) return report;

    std::string text;
    double value = 0;
    if (readSummaryScore(lines[i].substr(kDetails.size()), text, value) && value != 0) {
        report.scoreText = text;
        report.score = value;
        report.scoreLine = std::string(kScorePrefix) + text + " points.";
    }
    // The summary runs to the first empty line; the rule block follows the empty lines after it.
    while (i < lines.size() && !isBlank(lines[i])) ++i;
    while (i < lines.size() && isBlank(lines[i])) ++i;
    for (; i < lines.size() && !isBlank(lines[i]) && report.rows.size() < kMaxReportRows; ++i)
        report.rows.push_back(rowFor(lines[i]));
    return report;
}

SpamVerdict verdictFor(double score) {
    return score > 6.3 ? SpamVerdict::Poor : SpamVerdict::Good;
}

std::string_view helpText(SpamVerdict verdict) {
    if (verdict == SpamVerdict::Poor)
        return "The Spam Checker has checked your email message and found the quality of message "
               "to be poor, based on the Spam Check rules. The third party tool SpamAssassin "
               "suggests the quality to be poor when the assigned score becomes more than 6.3. "
               "This email may be considered Spam by various Email recipients especially the ones "
               "that use SpamAssassin. Some mail servers might use other tools and benchmarks to "
               "evaluate spam in which case this score only serves as a generic indicator. You "
               "should improve the message quality by following the guidelines given under "
               "Description column of Spam Check report. For more details on these rules, you may "
               "visit the web link";
    return "The Spam Checker has checked your email message and found the quality of message to be "
           "good, based on the Spam Check rules. The third party tool SpamAssassin suggests the "
           "quality to be good when the assigned score remains less than 6.3. This email should "
           "not be considered Spam by various Email recipients especially the ones that use "
           "SpamAssassin. Some mail servers might use other tools and benchmarks to evaluate spam "
           "in which case this score only serves as a generic indicator. For more details on the "
           "rules used by the third party tool SpamAssassin, you may visit the web link";
}

}  // namespace qm
