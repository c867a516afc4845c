// The message body is the user's HTML, attachment names are any file names. Input: the names on the
// first line, separated by "|", then the body. The rewrite must end (its own "cid:" text holds the
// name again), and every name it reports as referred must then be referred to by content ID.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "message/html_tools.h"
#include "message/mime_part.h"

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
    // Names are handled one after another; a later name may rewrite what an earlier one wrote, so
    // each is checked right after its own turn.
    for (const auto& name : names) {
        const std::size_t before = body.size();
        std::vector<bool> referred = qm::rewriteInlineReferences(body, {name});
        if (referred[0] && body.find("cid:" + qm::contentIdFor(name) + " ") == std::string::npos)
            std::abort();
        // At most "cid:" and a blank more per occurrence of the name.
        if (!name.empty() && body.size() > before + (before / name.size() + 1) * 5) std::abort();
    }
    return 0;
}
