#include "message/meta_charset.h"

#include <cstddef>
#include <utility>

namespace qm {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i]) return false;
    return true;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool isLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// Where the label after "charset" at `at` in the tag starts and ends; npos when there is none.
std::pair<std::size_t, std::size_t> labelAfter(std::string_view tag, std::size_t at) {
    constexpr auto none = std::pair{std::string_view::npos, std::string_view::npos};
    std::size_t i = at + 7;  // "charset"
    while (i < tag.size() && isSpace(tag[i])) ++i;
    if (startsNoCase(tag, i, "=3d"))
        i += 3;
    else if (i < tag.size() && tag[i] == '=')
        ++i;
    else
        return none;
    while (i < tag.size() && isSpace(tag[i])) ++i;
    if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) ++i;
    std::size_t end = i;
    while (end < tag.size() && isLabelChar(tag[end])) ++end;
    return end > i ? std::pair{i, end} : none;
}

}  // namespace

bool withMetaCharset(std::string_view html, std::string_view charset, std::string& result) {
    std::string out;
    std::size_t done = 0;  // html[0, done) is in `out`
    for (std::size_t pos = 0; (pos = html.find('<', pos)) != std::string_view::npos;) {
        const std::size_t nameEnd = pos + 5;
        if (!startsNoCase(html, pos + 1, "meta") ||
            (nameEnd < html.size() && !isSpace(html[nameEnd]) && html[nameEnd] != '/')) {
            ++pos;
            continue;
        }
        const std::size_t close = html.find('>', nameEnd);
        if (close == std::string_view::npos) break;
        const std::string_view tag = html.substr(0, close);
        for (std::size_t at = nameEnd; at + 7 <= close; ++at) {
            if (!startsNoCase(tag, at, "charset")) continue;
            auto [from, to] = labelAfter(tag, at);
            if (from == std::string_view::npos) continue;
            if (out.empty()) out.reserve(html.size() + 16);
            out.append(html.substr(done, from - done));
            out.append(charset);
            done = to;
            at = to - 1;
        }
        pos = close + 1;
    }
    if (done == 0) return false;
    out.append(html.substr(done));
    result = std::move(out);
    return true;
}

}  // namespace qm
