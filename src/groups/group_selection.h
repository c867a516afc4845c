// The group selection text of the "Select Groups" dialog and the main window's groups field: the
// chosen names, each followed by ";", in the order they were checked.
//
// Entry points: isGroupSelected(), setGroupSelected(), splitGroupSelection().
//
// The test is on whole entries, so "ab;" does not count as choosing "b" and unchecking "b" leaves
// "ab;" alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

bool isGroupSelected(std::string_view selection, std::string_view group);
// Appends "group;" when checking (once), removes that entry when unchecking.
std::string setGroupSelected(std::string_view selection, std::string_view group, bool selected);
// The names in order; text after the last ";" is not a name.
std::vector<std::string> splitGroupSelection(std::string_view selection);

}  // namespace qm
