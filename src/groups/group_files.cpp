#include "groups/group_files.h"

#include <strings.h>
#include <algorithm>
#include <map>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "groups/group_folder.h"

namespace qm {

std::string groupFileName(std::string_view group) {
    return "_" + std::string(group) + std::string(kGroupFileSuffix);
}

namespace {

constexpr std::string_view kBlockSeparator = "\r\n\r\n";

bool setMessage(std::string* message, std::string_view text) {
    if (message) *message = std::string(text);
    return false;
}

// NAME_MAX of the file systems we run on; a longer name could be staged but never put in place.
constexpr size_t kMaxFileName = 255;

bool isSafeGroupName(std::string_view name) {
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos &&
           groupFileName(name).size() <= kMaxFileName;
}

}  // namespace

std::string groupFilePath(const Paths& paths, std::string_view group) {
    return paths.groupRecipients() + "/" + groupFileName(group);
}

std::optional<std::string> groupNameFromFileName(std::string_view fileName) {
    if (fileName.size() <= kGroupFileSuffix.size() ||
        fileName.substr(fileName.size() - kGroupFileSuffix.size()) != kGroupFileSuffix)
        return std::nullopt;
    std::string_view title = fileName.substr(0, fileName.size() - kGroupFileSuffix.size());
    return std::string(title.substr(1));
}

std::vector<std::string> listGroups(const Paths& paths) {
    std::vector<std::string> names;
    for (const auto& file : listFiles(paths.groupRecipients(), kGroupFileSuffix))
        if (auto name = groupNameFromFileName(file)) names.push_back(std::move(*name));
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

namespace {

// Calls fn(line) for every line of group-file bytes that is not blank, without its line end.
template <class Fn>
void forEachLine(std::string_view content, Fn fn) {
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!trimWhite(line).empty()) fn(line);
        pos = end + 1;
    }
}

}  // namespace

std::vector<Recipient> parseGroupFile(std::string_view content) {
    std::vector<Recipient> out;
    forEachLine(content, [&](std::string_view line) { out.push_back(parseGroupLine(line)); });
    return out;
}

std::string canonicalGroupContent(std::string_view content) {
    std::string out;
    out.reserve(content.size() + 2);
    forEachLine(content, [&](std::string_view line) {
        out += line;
        out += "\r\n";
    });
    return out;
}

bool readGroupFile(const std::string& path, std::vector<Recipient>& out, std::string* message) {
    std::string content;
    if (!readFile(path, content)) return setMessage(message, kMsgGroupFileRemoved);
    out = parseGroupFile(content);
    return true;
}

std::string groupListFileName(std::string_view typed) {
    if (typed.size() >= kGroupListSuffix.size() &&
        typed.substr(typed.size() - kGroupListSuffix.size()) == kGroupListSuffix)
        typed.remove_suffix(kGroupListSuffix.size());
    return std::string(typed) + std::string(kGroupListSuffix);
}

bool canListGroup(std::string_view name, std::string_view content) {
    if (!isSafeGroupName(name) || name.find("\r\n") != std::string_view::npos) return false;
    bool empty = true;
    forEachLine(content, [&](std::string_view) { empty = false; });
    // The reader trims each block, so an empty group's name would lose white space at its end.
    return !empty || name.empty() || trimWhite(name.substr(name.size() - 1)).size() == 1;
}

std::string buildGroupList(const std::vector<GroupBlock>& groups) {
    std::string out;
    for (const auto& g : groups) {
        out += kGroupListMarker;
        out += g.name;
        out += "\r\n";
        // A blank line inside a block would end it; a last line without its CR LF would run into
        // the next block's marker.
        out += canonicalGroupContent(g.content);
        out += "\r\n";
    }
    return out;
}

std::string convertOlderForm(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        end = (end == std::string_view::npos) ? content.size() : end + 1;
        std::string_view line = content.substr(pos, end - pos);
        pos = end;
        // Current lines also carry 0xB8 (import puts it in place of commas inside fields), but
        // they always have their comma separators; only a line without any comma is older form.
        if (line.find(kCommaStandIn) == std::string_view::npos ||
            line.find(',') != std::string_view::npos) {
            out += line;
            continue;
        }
        for (char c : line) {
            if (c == '%')
                out += "%2B";
            else if (c == kCommaStandIn)
                out += ',';
            else
                out += c;
        }
    }
    return out;
}

std::optional<std::vector<GroupBlock>> parseGroupList(std::string_view text) {
    if (text.substr(0, kGroupListMarker.size()) != kGroupListMarker) return std::nullopt;

    std::vector<std::string_view> pieces;
    size_t pos = 0;
    bool separated = false;
    for (;;) {
        size_t sep = text.find(kBlockSeparator, pos);
        if (sep == std::string_view::npos) {
            std::string_view last = trimWhite(text.substr(pos));
            if (!last.empty()) pieces.push_back(last);
            break;
        }
        separated = true;
        pieces.push_back(trimWhite(text.substr(pos, sep - pos)));
        pos = sep + kBlockSeparator.size();
    }
    // Every block ends in a blank line; a text without one was cut short or is not ours.
    if (!separated) return std::nullopt;

    std::vector<GroupBlock> blocks;
    for (std::string_view piece : pieces) {
        if (piece.substr(0, kGroupListMarker.size()) != kGroupListMarker) return std::nullopt;
        piece.remove_prefix(kGroupListMarker.size());
        GroupBlock block;
        size_t eol = piece.find("\r\n");
        if (eol == std::string_view::npos) {
            block.name = std::string(piece);
        } else {
            block.name = std::string(piece.substr(0, eol));
            block.content = canonicalGroupContent(convertOlderForm(piece.substr(eol + 2)));
        }
        if (!isSafeGroupName(block.name)) return std::nullopt;
        blocks.push_back(std::move(block));
    }
    return blocks;
}

bool writeGroupList(const Paths& paths, const std::string& file, std::string* message) {
    std::vector<GroupBlock> groups;
    {
        // Not a set half switched by an open under way. Without a lock file, read all the same.
        GroupFolderLock lock(paths, GroupFolderLock::Mode::Shared);
        for (auto& name : listGroups(paths)) {
            GroupBlock block{name, {}};
            readFile(groupFilePath(paths, name), block.content);  // unreadable: an empty block
            groups.push_back(std::move(block));
        }
    }
    for (const auto& g : groups)
        if (!canListGroup(g.name, g.content))
            return setMessage(message, std::string(kMsgNameNotListable) + g.name);
    if (!writeFileAtomic(file, buildGroupList(groups)))
        return setMessage(message, kMsgFailedToSave);
    return true;
}

bool readGroupList(const Paths& paths, const std::string& file, std::vector<std::string>* created,
                   std::string* message) {
    std::string text;
    if (!readFile(file, text)) return setMessage(message, kMsgUnableToOpen);
    auto blocks = parseGroupList(text);
    if (!blocks) return setMessage(message, kMsgUnsupportedFormat);

    // A later block of the same name replaces the earlier one, in the place of the first.
    std::vector<GroupBlock> groups;
    std::map<std::string, size_t> index;
    for (auto& b : *blocks) {
        auto [it, added] = index.emplace(b.name, groups.size());
        if (added)
            groups.push_back(std::move(b));
        else
            groups[it->second].content = std::move(b.content);
    }
    if (!replaceGroupSet(paths, groups, message)) return false;
    if (created) {
        created->clear();
        for (const auto& g : groups) created->push_back(g.name);
    }
    return true;
}

}  // namespace qm
