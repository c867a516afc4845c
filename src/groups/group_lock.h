// One writer at a time per group file.
//
// Every read-modify-write of a group file (the window, the command line, imports, filters) holds
// a GroupLock on that group, so two writers never lose each other's changes: a rewrite goes
// through a temporary file and a rename, and an append that slipped in between the rewrite's read
// and its rename would vanish with the old file. Readers that only read (the send engine) take no
// lock: the rename gives them the old or the new file whole.
//
// A GroupLock also holds the group folder's lock shared (group_folder.h), taken first: a writer
// never lands a change in a set that a switch to a saved list is about to put aside.
//
// Entry points: GroupLock (blocks until held; released by its destructor).
// Failure: held() is false when the lock file cannot be made (the caller refuses to write).
// Limits: a caller holding several locks takes them in the order of lockFilePath(), so two such
// callers never wait on each other.
// Threads: flock() locks belong to an open file, so two GroupLocks exclude each other even inside
// one process.
// Standard: flock(2), advisory; the lock file is never deleted (deleting it would let a second
// writer lock a fresh file while the first still holds the old one).
#pragma once

#include <string>
#include <string_view>

#include "common/file_util.h"
#include "groups/group_folder.h"

namespace qm {

class Paths;

class GroupLock {
  public:
    GroupLock(const Paths& paths, std::string_view group);

    bool held() const { return lock_.held(); }

    // The lock file of a group: in the data root, named by a hash of the exact group name (group
    // names can be as long as a file name allows, so the name itself would not always fit).
    static std::string lockFilePath(const Paths& paths, std::string_view group);

  private:
    GroupFolderLock folder_;  // shared; taken first, released last
    FileLock lock_;
};

}  // namespace qm
