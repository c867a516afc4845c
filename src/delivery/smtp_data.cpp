#include "delivery/smtp_data.h"

#include <cstring>

namespace qm {

void SmtpDataEncoder::feed(std::string_view in, std::string& out) {
    out.reserve(out.size() + in.size() + in.size() / 32 + 2);
    // Whole lines are copied at once: this runs over every byte of every message of a run.
    const char* data = in.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (lineStart_ && data[i] == '.') out += '.';
        const void* found = std::memchr(data + i, '\n', n - i);
        std::size_t nl =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : n;
        if (nl > i) {
            out.append(data + i, nl - i);
            lastWasCr_ = data[nl - 1] == '\r';
            lineStart_ = false;
        }
        if (nl == n) break;
        if (!lastWasCr_) out += '\r';
        out += '\n';
        lineStart_ = true;
        lastWasCr_ = false;
        i = nl + 1;
    }
}

std::string encodeSmtpData(std::string_view body) {
    std::string out;
    SmtpDataEncoder encoder;
    encoder.feed(body, out);
    return out;
}

}  // namespace qm
