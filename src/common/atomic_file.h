// Whole-file rewrites that can never leave a half-written file behind.
//
// Entry points: writeFileAtomic() writes the new content to a temporary file in the same folder,
// flushes it to disk and renames it over the target, so a process killed at any moment leaves
// either the old or the new content. Appends do not go through here: they stay appends.
// Failure: false plus a one-line text in `error`; the target is untouched and no temporary file is
// left behind.
// Limits: the content is written from memory in one pass; the replaced file's mode is kept.
// Threads: callable from any thread; two writers of one file need a lock of their own (the last
// rename wins).
// Standard: POSIX rename(2) atomicity within one file system.
#pragma once

#include <string>
#include <string_view>

namespace qm {

struct AtomicWriteOptions {
    // Permission bits of a newly created file; an existing file keeps its own.
    unsigned mode = 0644;
    // fsync the file and its folder. Off only for bulk scratch files where speed matters more.
    bool durable = true;
    // Never replace: the rename fails with EEXIST (errno) when the target exists, so a new file
    // cannot overwrite one that another writer made since the caller looked.
    bool noReplace = false;
};

bool writeFileAtomic(const std::string& path, std::string_view content,
                     std::string* error = nullptr, AtomicWriteOptions options = {});

}  // namespace qm
