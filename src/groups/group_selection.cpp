#include "groups/group_selection.h"

#include <unordered_set>

#include "common/text.h"

namespace qm {

std::vector<std::string> splitGroupSelection(std::string_view selection) {
    std::vector<std::string> names;
    std::unordered_set<std::string_view> seen;  // views into `selection`
    std::size_t start = 0;
    for (std::size_t semi; (semi = selection.find(';', start)) != std::string_view::npos;
         start = semi + 1) {
        std::string_view name = trimWhite(selection.substr(start, semi - start));
        if (!name.empty() && seen.insert(name).second) names.emplace_back(name);
    }
    return names;
}

std::string_view unfinishedGroupName(std::string_view selection) {
    const std::size_t semi = selection.rfind(';');
    return trimWhite(semi == std::string_view::npos ? selection : selection.substr(semi + 1));
}

bool isGroupSelected(std::string_view selection, std::string_view group) {
    for (const auto& name : splitGroupSelection(selection))
        if (name == group) return true;
    return false;
}

std::string setGroupSelected(std::string_view selection, std::string_view group, bool selected) {
    std::string out;
    bool present = false;
    for (const auto& name : splitGroupSelection(selection)) {
        if (name == group) {
            if (!selected) continue;
            present = true;
        }
        out += name;
        out += ';';
    }
    if (selected && !present) {
        out += group;
        out += ';';
    }
    return out;
}

}  // namespace qm
