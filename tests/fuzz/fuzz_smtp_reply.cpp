// Server replies are outside input: any bytes, in any split, must give the same replies, within
// the reader's caps, without a crash or a hang.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "delivery/smtp_reply.h"

namespace {

std::vector<qm::SmtpReply> readAll(std::string_view input, std::size_t piece) {
    qm::SmtpReplyReader reader;
    std::vector<qm::SmtpReply> out;
    qm::SmtpReply r;
    for (std::size_t pos = 0; pos < input.size(); pos += piece) {
        reader.feed(input.substr(pos, piece));
        while (reader.next(r) == qm::SmtpReplyReader::Status::Complete) out.push_back(r);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t piece = 1 + data[0] % 16;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto whole = readAll(text, text.size() + 1);
    auto split = readAll(text, piece);
    if (whole.size() != split.size()) std::abort();
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (whole[i].code != split[i].code || whole[i].lines != split[i].lines) std::abort();
        if (whole[i].lines.empty() || whole[i].lines.size() > qm::SmtpReplyReader::kMaxLines)
            std::abort();
        for (const auto& l : whole[i].lines)
            if (l.size() > qm::SmtpReplyReader::kMaxLineLength) std::abort();
        if (whole[i].code != -1 && (whole[i].code < 0 || whole[i].code > 999)) std::abort();
    }
    return 0;
}
