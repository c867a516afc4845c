#include "config/home_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qm {

std::string passwordDatabaseHome(uid_t uid, std::string* error) {
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int err;
    // A long entry (many groups' worth of gecos text) asks for a bigger buffer; 1 MiB is plenty.
    while ((err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    const std::string who = "user id " + std::to_string(uid);
    if (err != 0) {
        if (error)
            *error =
                "cannot read the password database entry of " + who + ": " + std::strerror(err);
        return {};
    }
    if (!found) {
        if (error) *error = "the password database has no entry for " + who;
        return {};
    }
    if (!entry.pw_dir || entry.pw_dir[0] != '/') {
        if (error) *error = "the password database gives no absolute home folder for " + who;
        return {};
    }
    return entry.pw_dir;
}

std::string userHome(std::string* error) {
    const char* env = std::getenv("HOME");
    if (env && env[0] == '/') return env;
    std::string why;
    std::string home = passwordDatabaseHome(::getuid(), &why);
    if (home.empty() && error)
        *error = std::string("No home folder: ") +
                 (env && *env ? "HOME is not an absolute folder" : "HOME is not set") + " and " +
                 why + ". Set HOME (or QUILLMARK_CONFIG and QUILLMARK_HOME) and start again.";
    return home;
}

}  // namespace qm
