// Group files and group-list files.
//
// A group is one file "_<name>.sbz" in the GroupRecipients folder holding stored-form group lines
// ending in CR LF. A group-list file (".hvt") bundles every group: per group the 11-byte marker
// "[QmRecBox]" + 0xBA, the name, CR LF, the group file's bytes, CR LF.
//
// Entry points: listGroups(), readGroupFile(), writeGroupList(), readGroupList(), and the pure
// buildGroupList() / parseGroupList() that they are made of.
//
// Failure contract: functions return false plus one of the fixed texts below for the caller to
// show. readGroupList() checks the whole file before it touches anything: on any error no group is
// removed or changed. Names from a group-list file that would leave the group folder (a "/" or a
// NUL byte) make the file unsupported. Names differing only in letter case are kept as separate
// groups (the file system here tells them apart); an exact duplicate name replaces the earlier
// block, as a later write over the same file would.
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

inline constexpr std::string_view kGroupListMarker{"[QmRecBox]\xBA", 11};
inline constexpr std::string_view kGroupFileSuffix = ".sbz";
inline constexpr std::string_view kGroupListSuffix = ".hvt";

std::string groupFileName(std::string_view group);
std::string groupFilePath(const Paths& paths, std::string_view group);
// The file title without its first character; nullopt when the name does not end in ".sbz".
std::optional<std::string> groupNameFromFileName(std::string_view fileName);
// Every group of the group folder, sorted without regard to letter case.
std::vector<std::string> listGroups(const Paths& paths);

// Splits group-file bytes into records; empty lines are skipped. Accepts CR LF and bare LF.
std::vector<Recipient> parseGroupFile(std::string_view content);
bool readGroupFile(const std::string& path, std::vector<Recipient>& out,
                   std::string* message = nullptr);

// The ".hvt" naming rule: a name ending in ".hvt" (exact case) has it removed, then ".hvt" is
// appended.
std::string groupListFileName(std::string_view typed);

struct GroupBlock {
    std::string name;
    std::string content;  // group file bytes, each line ending in CR LF
};

std::string buildGroupList(const std::vector<GroupBlock>& groups);
// nullopt when any part of the text is malformed.
std::optional<std::vector<GroupBlock>> parseGroupList(std::string_view text);
// Converts lines of the older form (fields separated by 0xB8, no comma) to the current form;
// every other line is left exactly as it is.
std::string convertOlderForm(std::string_view content);

bool writeGroupList(const Paths& paths, const std::string& file, std::string* message);
// Replaces every group by the groups of `file`. `created` receives their names in file order.
bool readGroupList(const Paths& paths, const std::string& file, std::vector<std::string>* created,
                   std::string* message);

}  // namespace qm
