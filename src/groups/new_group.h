// New groups made by the imports: a time-based name that no group uses yet, and the file written
// under it without ever replacing another group.
//
// Entry points: GroupNamer makes names ("<prefix>%y%j%H%M%S", then random letters A-Z appended
// while the name is taken); writeNewGroup() names and writes one group.
//
// Why the folder is asked: two imports in the same second (two windows, the window and the
// command line, or a group a user once named that way) make the same time-based name. A name is
// therefore taken when this run made it or when any group of the group folder has it, compared
// without regard to letter case; and the file is renamed into place with RENAME_NOREPLACE under
// the group's lock, so a group that appears after the check is not overwritten either: the writer
// then picks the next name.
//
// Failure: writeNewGroup() returns false with a one-line text naming the group; nothing of the
// group is left behind (the content goes through a temporary file).
// Limits: names grow to at most 55 characters (then a fresh time-based name is tried); after
// 10,000 names taken in a row the writer gives up.
// Threads: a GroupNamer belongs to one run; writeNewGroup() may run beside any other writer (it
// holds the group folder's lock shared, so a group-list open never swaps the folder mid-write).
// Standard: none.
#pragma once

#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>

namespace qm {

class Paths;

inline constexpr std::size_t kMaxImportGroupName = 55;

class GroupNamer {
  public:
    using Clock = std::function<std::time_t()>;
    // `prefix` starts every name ("Group" for the import run, "Contacts" for address books).
    explicit GroupNamer(std::string prefix, Clock clock = nullptr, unsigned seed = 0);

    // A name for which taken() is false; empty when none was found.
    std::string next(const std::function<bool(std::string_view)>& taken);
    // Remembers a name this run wrote.
    void made(std::string_view name) { made_.insert(std::string(name)); }
    bool madeHere(std::string_view name) const { return made_.count(std::string(name)) != 0; }

  private:
    std::string timeName() const;

    std::string prefix_;
    Clock clock_;
    std::mt19937 rng_;
    std::unordered_set<std::string> made_;
};

// Writes `content` (stored-form lines, each ended by CR LF) as a new group named by `namer`.
bool writeNewGroup(const Paths& paths, GroupNamer& namer, std::string_view content,
                   std::string& name, std::string* error);

}  // namespace qm
