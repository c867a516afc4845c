// POP3 replies come from any server: the bytes, cut into receives of any size, must give the same
// lines as when they come at once (each line cut to its cap, its CR LF or LF removed, text after
// the last line end not a line), the buffer must never hold more than its cap twice over between
// receives, and any status line must give a STAT count of -1 or more without a crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "subscriptions/pop3_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t chunk = 1 + data[0] % 32;
    const std::size_t cap = data[1] % 2 ? qm::Pop3Client::kMaxReplyLine : 1 + data[1] % 40;
    std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    std::vector<std::string> expected;
    for (std::size_t pos = 0;;) {
        std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) break;
        std::string line(text.substr(pos, lf - pos));
        if (line.size() > cap) line.resize(cap);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        expected.push_back(std::move(line));
        pos = lf + 1;
    }

    qm::Pop3LineBuffer buffer;
    std::vector<std::string> got;
    std::string line;
    for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
        buffer.add(text.substr(pos, chunk));
        while (buffer.next(line, cap)) got.push_back(line);
        if (buffer.pending() > 2 * cap) std::abort();
    }
    if (got != expected) std::abort();

    for (const auto& reply : got) {
        const int count = qm::pop3StatCount(reply);
        if (count < -1) std::abort();
        if (count >= 0 && reply.find_first_of("0123456789") == std::string::npos) std::abort();
        if (qm::isPop3Refusal(reply) && reply.compare(0, 4, "-ERR") != 0) std::abort();
    }
    return 0;
}
