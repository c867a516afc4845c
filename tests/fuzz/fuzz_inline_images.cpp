// The message body is the user's HTML, attachment names are any file names. Input: the names on the
// first line, separated by "|", then the body. The rewrite must end (its own "cid:" text holds the
// name again); the names' content IDs must be distinct, short and safe; every name it reports as
// referred must then be referred to by its content ID, and every "cid:" the rewrite put in must
// name a referred name.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "message/html_tools.h"
#include "message/mime_part.h"

namespace {

std::size_t count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(piece, at)) != std::string::npos; at += piece.size())
        ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t eol = input.find('\n');
    std::string_view head = input.substr(0, eol);
    std::string body(eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1));
    std::vector<std::string> names;
    for (std::size_t pos = 0; pos <= head.size() && names.size() < 8;) {
        std::size_t bar = head.find('|', pos);
        if (bar == std::string_view::npos) bar = head.size();
        names.emplace_back(head.substr(pos, bar - pos));
        pos = bar + 1;
    }
    const std::size_t before = body.size();
    const std::size_t cidsBefore = count(body, "cid:");
    std::vector<bool> referred = qm::rewriteInlineReferences(body, names);
    std::vector<std::string> ids = qm::contentIdsFor(names);
    std::set<std::string> lower;
    std::size_t shortest = std::string::npos, references = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& id = ids[i];
        if (id.empty() || id.size() > qm::kMaxPlainContentId || qm::contentIdFor(id) != id)
            std::abort();
        if (!lower.insert(qm::lowerAscii(id)).second) std::abort();
        if (names[i].empty()) continue;
        shortest = std::min(shortest, names[i].size());
        const std::size_t n = count(body, "cid:" + id + " ");
        if (referred[i] && n == 0) std::abort();
        if (referred[i]) references += n;
    }
    // Each reference replaces at least its name with "cid:", an identifier and a blank.
    if (shortest != std::string::npos &&
        body.size() > before + (before / shortest + 1) * (5 + qm::kMaxPlainContentId))
        std::abort();
    // No more "cid:" than were there plus one per reference put in.
    if (count(body, "cid:") > cidsBefore + references) std::abort();
    return 0;
}
