// The group selection text of the "Select Groups" dialog, the main window's groups field and the
// command line's --groups: the chosen names, each followed by ";", in the order they were checked.
//
// Entry points: splitGroupSelection() (the one reading of that text, for the dialog and for every
// run), isGroupSelected(), setGroupSelected(), unfinishedGroupName().
//
// Rule: the text is split at ";" and text after the last ";" is not a name (the dialog always ends
// each name with one; a typed name without it is left out, and unfinishedGroupName() tells the
// caller what was left). Each name is trimmed of white space, which a stored group name never
// begins or ends with; empty names are dropped; a name that comes again is kept at its first
// place only, so no group is sent twice in one run. Names are compared exactly: group files
// differing only in letter case are separate groups here.
//
// The test is on whole entries, so "ab;" does not count as choosing "b" and unchecking "b" leaves
// "ab;" alone.
// Failure: none. Threads: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

bool isGroupSelected(std::string_view selection, std::string_view group);
// Appends "group;" when checking (once), removes that entry when unchecking.
std::string setGroupSelected(std::string_view selection, std::string_view group, bool selected);
// The names in order, by the rule above.
std::vector<std::string> splitGroupSelection(std::string_view selection);
// The trimmed text after the last ";" (the whole text when there is none): a name typed without its
// ";". Empty when there is none.
std::string_view unfinishedGroupName(std::string_view selection);

}  // namespace qm
