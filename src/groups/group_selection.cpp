#include "groups/group_selection.h"

namespace qm {

std::vector<std::string> splitGroupSelection(std::string_view selection) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t semi; (semi = selection.find(';', start)) != std::string_view::npos;
         start = semi + 1)
        names.emplace_back(selection.substr(start, semi - start));
    return names;
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
            if (!selected || present) continue;
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
