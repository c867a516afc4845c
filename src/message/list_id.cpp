#include "message/list_id.h"

#include <cstdint>

#include "common/header_encoding.h"
#include "common/text.h"

namespace qm {

namespace {

bool isSlugChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string hashText(std::string_view text) {
    // FNV-1a: stable across runs, builds and machines, unlike std::hash.
    std::uint32_t h = 2166136261u;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, h >>= 4) out[static_cast<std::size_t>(i)] = kHex[h & 15];
    return out;
}

bool isPrintableAscii(std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) return false;
    }
    return true;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

}  // namespace

std::string listIdSlug(std::string_view group) {
    const std::string lower = lowerAscii(group);
    std::string slug;
    bool dash = false;
    for (char c : lower) {
        if (isSlugChar(c)) {
            if (dash && !slug.empty()) slug += '-';
            dash = false;
            slug += c;
        } else {
            dash = true;
        }
    }
    constexpr std::size_t kHashed = 8 + 1;
    // Group names are unique without regard to case, and a "-" in the slug stands for a single
    // blank only when the name holds no "-" of its own: then the slug names one group alone.
    std::string spelled = lower;
    for (char& c : spelled)
        if (c == ' ') c = '-';
    const bool lossless = !slug.empty() && slug == spelled && slug.size() <= kMaxListIdSlug &&
                          lower.find('-') == std::string::npos;
    if (lossless) return slug;
    if (slug.size() > kMaxListIdSlug - kHashed) {
        slug.resize(kMaxListIdSlug - kHashed);
        while (!slug.empty() && slug.back() == '-') slug.pop_back();
    }
    return slug.empty() ? hashText(lower) : slug + '-' + hashText(lower);
}

std::string listIdHeader(std::string_view group, std::string_view senderAddress) {
    std::size_t at = senderAddress.rfind('@');
    if (at == std::string_view::npos || at + 1 >= senderAddress.size()) return {};
    const std::string id = listIdSlug(group) + "." + lowerAscii(senderAddress.substr(at + 1));
    const std::string name = headerSafe(group);
    std::string line = "List-Id: " + quoted(name) + " <" + id + ">";
    if (isPrintableAscii(name) && line.size() <= kHeaderFoldWidth) return line;
    // Encoded words cannot stand inside a quoted string; the display-name writer makes a phrase
    // of them and folds it.
    std::string folded = mailboxHeader("List-Id", {{name, id}});
    // Its fixed layout writes "name<id>" when the name is plain; a blank reads better and is the
    // usual form of this field.
    std::size_t angle = folded.rfind('<');
    if (angle != std::string::npos && angle > 0 && folded[angle - 1] != ' ' &&
        folded[angle - 1] != '\n')
        folded.insert(angle, 1, ' ');
    return folded;
}

}  // namespace qm
