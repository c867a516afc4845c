#include "config/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "common/file_util.h"
#include "config/home_folder.h"
#include "config/settings.h"

namespace qm {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Empty, with the reason in `error`, when there is no home folder.
std::string perUserDefault(std::string* error) {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/')
        return withoutTrailingSlashes(x) + "/quillmark";
    std::string home = userHome(error);
    if (home.empty()) return {};
    return (home == "/" ? "" : withoutTrailingSlashes(home)) + "/.local/share/quillmark";
}

}  // namespace

Paths::Paths(std::string programFolder)
    : program_(withoutTrailingSlashes(std::move(programFolder))),
      data_((program_ == "/" ? "" : program_) + "/ProgramData/QMK") {}

std::optional<Paths> Paths::find(const SettingsStore& settings, std::string* error) {
    if (const char* home = std::getenv("QUILLMARK_HOME"); home && *home) return Paths(home);
    // Only an absolute folder other than the root is usable: an empty value, a relative path or a
    // drive-letter path from another system would scatter data at the root or the working folder.
    std::string app = withoutTrailingSlashes(settings.read(keys::kAppPath));
    if (app.size() > 1 && app.front() == '/') return Paths(app);
    std::string folder = perUserDefault(error);
    if (folder.empty()) return std::nullopt;
    return Paths(folder);
}

Paths Paths::current(const SettingsStore& settings) {
    std::string why;
    if (auto found = find(settings, &why)) return *found;
    // Paths that name no real folder of this user; ensureFolders() and the marker refuse them.
    Paths none("");
    none.problem_ = why;
    return none;
}

bool locateUserFolders(std::string* error) {
    std::string where = SettingsStore::defaultPath(error);
    if (where.empty()) return false;
    return Paths::find(SettingsStore(where), error).has_value();
}

bool Paths::ensureFolders(std::string* error) const {
    if (!usable()) {
        if (error) *error = problem_;
        return false;
    }
    for (const std::string& folder : {program_, groupRecipients(), groupOutput(),
                                      groupUnsubscribers(), emlOutput(), images(), data_, outbox()})
        if (!makeFolders(folder, error)) return false;
    return true;
}

RunningCopyMarker::RunningCopyMarker(const Paths& paths) {
    if (!paths.usable() || !makeFolders(paths.dataRoot())) return;
    fd_ = ::open(paths.runningCopyLock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RunningCopyMarker::~RunningCopyMarker() {
    if (fd_ >= 0) ::close(fd_);
}

bool RunningCopyMarker::anyCopyRunning(const Paths& paths) {
    int fd = ::open(paths.runningCopyLock().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Shared locks of running copies block an exclusive one.
    bool running = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return running;
}

}  // namespace qm
