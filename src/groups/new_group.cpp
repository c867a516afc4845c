#include "groups/new_group.h"

#include <cerrno>
#include <string>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "groups/group_files.h"
#include "groups/group_folder.h"
#include "groups/group_lock.h"

namespace qm {

namespace {

constexpr int kMaxNameTries = 10000;

}  // namespace

GroupNamer::GroupNamer(std::string prefix, Clock clock, unsigned seed)
    : prefix_(std::move(prefix)),
      clock_(clock ? std::move(clock) : Clock([] { return std::time(nullptr); })),
      rng_(seed ? seed : std::random_device{}()) {}

std::string GroupNamer::timeName() const {
    std::time_t now = clock_();
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%y%j%H%M%S", &local);
    return prefix_ + stamp;
}

std::string GroupNamer::next(const std::function<bool(std::string_view)>& taken) {
    std::uniform_int_distribution<int> letter('A', 'Z');
    std::string name = timeName();
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        if (!madeHere(name) && !taken(name)) return name;
        name += static_cast<char>(letter(rng_));
        if (name.size() > kMaxImportGroupName) name = timeName();
    }
    return {};
}

bool writeNewGroup(const Paths& paths, GroupNamer& namer, std::string_view content,
                   std::string& name, std::string* error) {
    auto failWith = [&](const std::string& text) {
        if (error) *error = text;
        return false;
    };
    std::string folderError;
    if (!makeFolders(paths.groupRecipients(), &folderError))
        return failWith("Failed to write a new group: " + folderError);
    GroupFolderLock folder(paths, GroupFolderLock::Mode::Shared);
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        std::unordered_set<std::string> existing;
        for (const auto& g : listGroups(paths)) existing.insert(lowerAscii(g));
        name = namer.next([&](std::string_view n) { return existing.count(lowerAscii(n)) != 0; });
        if (name.empty()) break;
        GroupLock lock(paths, name);
        if (!lock.held()) return failWith("Failed to write group " + name + ": cannot lock it.");
        AtomicWriteOptions options;
        options.noReplace = true;
        std::string writeError;
        if (writeFileAtomic(groupFilePath(paths, name), content, &writeError, options)) {
            namer.made(name);
            return true;
        }
        // Made by someone else since the listing: take the next name.
        if (errno == EEXIST) {
            namer.made(name);
            continue;
        }
        return failWith("Failed to write group " + name + ": " + writeError);
    }
    return failWith("Failed to write a new group: no free group name.");
}

}  // namespace qm
