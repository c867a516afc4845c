// The user's home folder, the one base of every per-user default (settings file, program folder).
//
// Entry points: userHome() for this process; passwordDatabaseHome() for one user id.
//
// Failure: an empty result plus a one-line text. There is deliberately no fallback folder: a fixed
// name under /tmp can be made first by another local user, who would then read the passwords in
// the settings and plant group files. The caller stops and shows the text instead.
//
// Limits: only an absolute folder counts; a relative or empty HOME is treated as unset.
//
// Threads: any; getpwuid_r() with a buffer of our own, nothing shared.
//
// Standard: POSIX getpwuid_r().
#pragma once

#include <sys/types.h>

#include <string>

namespace qm {

// $HOME when it is an absolute folder, else the home folder of the real user id in the password
// database.
std::string userHome(std::string* error = nullptr);

// The home folder of `uid` in the password database, when it is an absolute folder.
std::string passwordDatabaseHome(uid_t uid, std::string* error = nullptr);

}  // namespace qm
