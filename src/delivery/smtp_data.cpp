#include "delivery/smtp_data.h"

namespace qm {

void SmtpDataEncoder::feed(std::string_view in, std::string& out) {
    out.reserve(out.size() + in.size() + in.size() / 32 + 2);
    for (char c : in) {
        if (c == '\n') {
            if (!lastWasCr_) out += '\r';
            out += '\n';
            lineStart_ = true;
            lastWasCr_ = false;
            continue;
        }
        if (lineStart_ && c == '.') out += '.';
        out += c;
        lineStart_ = false;
        lastWasCr_ = c == '\r';
    }
}

std::string encodeSmtpData(std::string_view body) {
    std::string out;
    SmtpDataEncoder encoder;
    encoder.feed(body, out);
    return out;
}

}  // namespace qm
