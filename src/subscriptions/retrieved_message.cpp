#include "subscriptions/retrieved_message.h"

namespace qm {

namespace {

// The value of the first header line that begins with `name`, up to its line end; nullopt when
// no line does.
std::optional<std::string_view> headerValue(std::string_view header, std::string_view name) {
    std::size_t pos = 0;
    while (pos <= header.size()) {
        std::size_t end = header.find("\r\n", pos);
        if (end == std::string_view::npos) end = header.size();
        std::string_view line = header.substr(pos, end - pos);
        if (line.substr(0, name.size()) == name) return line.substr(name.size());
        if (end == header.size()) break;
        pos = end + 2;
    }
    return std::nullopt;
}

}  // namespace

std::string unstuffDots(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') {
            lineStart = false;
            continue;
        }
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

void splitAddressHeader(std::string_view value,
                        std::vector<std::pair<std::string, std::string>>& out) {
    std::size_t pos = 0;
    while (pos <= value.size()) {
        std::size_t semi = value.find(';', pos);
        if (semi == std::string_view::npos) semi = value.size();
        std::string_view piece = value.substr(pos, semi - pos);
        pos = semi + 1;
        if (!piece.empty()) {
            std::size_t open = piece.find('<');
            if (open == std::string_view::npos) {
                out.emplace_back(std::string(piece), std::string());
            } else {
                std::size_t close = piece.find('>');
                if (close == std::string_view::npos || close < open) return;
                out.emplace_back(std::string(piece.substr(open + 1, close - open - 1)),
                                 std::string(piece.substr(0, open)));
            }
        }
        if (semi == value.size()) break;
    }
}

RetrievedMessage parseRetrievedMessage(std::string_view stuffedText, std::time_t now) {
    RetrievedMessage m;
    const std::string text = unstuffDots(stuffedText);
    const std::size_t split = text.find("\r\n\r\n");
    if (split == std::string::npos) {
        m.header = text;
    } else {
        m.header = text.substr(0, split);
        m.body = text.substr(split + 4);
    }
    const std::string_view header = m.header;
    auto from = headerValue(header, "From: ");
    if (!from) return m;
    m.from = *from;
    auto to = headerValue(header, "To: ");
    if (!to) return m;
    splitAddressHeader(*to, m.addresses);
    if (!headerValue(header, "Date: ")) return m;
    m.date = now;
    auto subject = headerValue(header, "Subject: ");
    if (!subject) return m;
    m.subject = *subject;
    if (auto cc = headerValue(header, "Cc: ")) splitAddressHeader(*cc, m.addresses);
    return m;
}

}  // namespace qm
