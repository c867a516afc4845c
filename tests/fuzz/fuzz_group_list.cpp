// Fuzz target for group-list files, which arrive from other machines, and for the group files
// they are saved from, which may have been written by hand or by other tools. Two round trips, each
// must give back the same groups:
// - the input as a group-list file: whatever parseGroupList() accepts, built again and parsed
//   again, gives the very same blocks (names and bytes);
// - the input as group files ("name NUL content NUL name NUL content ..."): every group that
//   canListGroup() admits, built into a list and parsed, comes back under its name with the same
//   recipients, whatever its line ends, blank lines or missing final line end (lines of the older
//   form are converted, as reading any list converts them).
//
// Entry points: LLVMFuzzerTestOneInput(), run by libFuzzer (fuzz preset) or by the replay driver
// over regressions/group_list/ (every other build, through ctest).
//
// Failure: any difference aborts; a crash, a hang or a sanitizer report fails as well.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "groups/group_files.h"

namespace {

void groupListRoundTrip(std::string_view text) {
    auto blocks = qm::parseGroupList(text);
    if (!blocks) return;
    for (const auto& b : *blocks)
        if (b.name.find('/') != std::string::npos) std::abort();
    auto again = qm::parseGroupList(qm::buildGroupList(*blocks));
    if (!again || again->size() != blocks->size()) std::abort();
    for (size_t i = 0; i < blocks->size(); ++i)
        if ((*again)[i].name != (*blocks)[i].name || (*again)[i].content != (*blocks)[i].content)
            std::abort();
}

void groupFilesRoundTrip(std::string_view text) {
    std::vector<qm::GroupBlock> groups;
    while (!text.empty()) {
        size_t nul = text.find('\0');
        std::string_view name = text.substr(0, nul);
        text = nul == std::string_view::npos ? std::string_view{} : text.substr(nul + 1);
        nul = text.find('\0');
        std::string_view content = text.substr(0, nul);
        text = nul == std::string_view::npos ? std::string_view{} : text.substr(nul + 1);
        if (qm::canListGroup(name, content))
            groups.push_back({std::string(name), std::string(content)});
    }
    if (groups.empty()) return;
    auto back = qm::parseGroupList(qm::buildGroupList(groups));
    if (!back || back->size() != groups.size()) std::abort();
    for (size_t i = 0; i < groups.size(); ++i) {
        if ((*back)[i].name != groups[i].name) std::abort();
        if (qm::parseGroupFile((*back)[i].content) !=
            qm::parseGroupFile(qm::convertOlderForm(groups[i].content)))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    groupListRoundTrip(text);
    groupFilesRoundTrip(text);
    (void)qm::convertOlderForm(text);
    return 0;
}
