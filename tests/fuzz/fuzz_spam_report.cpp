// The analyser's output.txt is read whatever it holds (a message can put anything in its own
// headers and text, and a cut-short run leaves half a report): any bytes must parse without a
// crash, into at most kMaxReportRows rows whose texts all come from the output (no more text out
// than went in), with a finite score and a verdict.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "spamcheck/spam_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::SpamReport report = qm::parseAnalyserOutput(text);
    if (report.rows.size() > qm::kMaxReportRows) std::abort();
    if (!std::isfinite(report.score)) std::abort();
    if (report.scoreText.empty()) std::abort();
    std::size_t bytes = 0;
    for (const auto& row : report.rows) {
        bytes += row.score.size() + row.rule.size() + row.description.size();
        if (row.rule.find('\n') != std::string::npos) std::abort();
        if (row.description.find('\n') != std::string::npos) std::abort();
    }
    if (bytes > size) std::abort();
    qm::helpText(qm::verdictFor(report.score));
    return 0;
}
