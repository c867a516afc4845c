// Group files and group-list files.
//
// A group is one file "_<name>.sbz" in the GroupRecipients folder holding stored-form group lines
// ending in CR LF. A group-list file (".hvt") bundles every group: per group the 11-byte marker
// "[QmRecBox]" + 0xBA, the name, CR LF, the group's lines, CR LF. The reader splits blocks at
// every blank line, so a block is always written in the canonical form (every line ended by CR LF,
// no blank line, nothing after the last line end): group files written by hand or by other tools
// (bare LF, blank lines, no final CR LF) then read back as the same groups with the same
// recipients instead of running into the next group or being refused.
//
// Entry points: listGroups(), readGroupFile(), writeGroupList(), readGroupList(); the pure
// canonicalGroupContent(), canListGroup(), buildGroupList() and parseGroupList() they are made of.
//
// Failure: functions return false plus one of the fixed texts below for the caller to show.
// readGroupList() checks the whole file before it touches anything: on any error no group is
// removed or changed, and the new set replaces the old one all at once (groups/group_folder.h).
// writeGroupList() refuses, naming the group, a group whose name the format cannot carry
// (canListGroup()), rather than write a file that reads back as other groups.
//
// Limits: names from a group-list file that would leave the group folder (a "/" or a NUL byte) or
// exceed a file name make the file unsupported. Names differing only in letter case are kept as
// separate groups (the file system here tells them apart); an exact duplicate name replaces the
// earlier block, as a later write over the same file would. Blank lines (spaces, tabs and CRs
// only) are no recipients: readers skip them and the canonical form leaves them out.
//
// Threads: the pure functions run anywhere; writeGroupList() and readGroupList() take the group
// folder's lock (shared and exclusive), so a save never reads half of an open.
//
// Standard: CR LF line ends and single-byte text, as group files have always had.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "groups/recipient.h"

namespace qm {

class Paths;

inline constexpr std::string_view kMsgUnsupportedFormat = "Unsupported file format.";
inline constexpr std::string_view kMsgFailedToSave = "Failed to save data.";
inline constexpr std::string_view kMsgUnableToOpen = "Unable to open file.";
inline constexpr std::string_view kMsgGroupFileRemoved =
    "Someone seemed to have removed a application file.";
// Followed by the group name.
inline constexpr std::string_view kMsgNameNotListable =
    "A group-list file cannot carry the name of this group (a line break, or white space at the "
    "end of an empty group's name): ";

inline constexpr std::string_view kGroupListMarker{"[QmRecBox]\xBA", 11};
inline constexpr std::string_view kGroupFileSuffix = ".sbz";
inline constexpr std::string_view kGroupListSuffix = ".hvt";

std::string groupFileName(std::string_view group);
std::string groupFilePath(const Paths& paths, std::string_view group);
// The file title without its first character; nullopt when the name does not end in ".sbz".
std::optional<std::string> groupNameFromFileName(std::string_view fileName);
// Every group of the group folder, sorted without regard to letter case.
std::vector<std::string> listGroups(const Paths& paths);

// Splits group-file bytes into records; blank lines are skipped. Accepts CR LF and bare LF.
std::vector<Recipient> parseGroupFile(std::string_view content);
// The same lines, each ended by CR LF, blank lines left out. A line ends at LF; one CR before it
// belongs to the line end, any other byte to the line.
std::string canonicalGroupContent(std::string_view content);
bool readGroupFile(const std::string& path, std::vector<Recipient>& out,
                   std::string* message = nullptr);

// The ".hvt" naming rule: a name ending in ".hvt" (exact case) has it removed, then ".hvt" is
// appended.
std::string groupListFileName(std::string_view typed);

struct GroupBlock {
    std::string name;
    std::string content;  // group file bytes, each line ending in CR LF
};

// Whether a group of this name and content reads back from a group-list file under the same name:
// the name may not hold CR LF (it would end the name line early), nor end in white space when the
// group has no recipient (the reader trims each block), nor fail the group-folder checks.
bool canListGroup(std::string_view name, std::string_view content);
// Every block in canonical form; a block that canListGroup() refuses does not read back as written.
std::string buildGroupList(const std::vector<GroupBlock>& groups);
// nullopt when any part of the text is malformed. Contents come out converted from the older form
// and canonical.
std::optional<std::vector<GroupBlock>> parseGroupList(std::string_view text);
// Converts lines of the older form (fields separated by 0xB8, no comma) to the current form;
// every other line is left exactly as it is.
std::string convertOlderForm(std::string_view content);

// Fails with kMsgFailedToSave when the file cannot be written, or with a text naming the group
// when a group name cannot be carried (canListGroup()).
bool writeGroupList(const Paths& paths, const std::string& file, std::string* message);
// Replaces every group by the groups of `file`. `created` receives their names in file order.
bool readGroupList(const Paths& paths, const std::string& file, std::vector<std::string>* created,
                   std::string* message);

}  // namespace qm
