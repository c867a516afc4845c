#include "config/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "common/file_util.h"
#include "config/settings.h"

namespace qm {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string perUserDefault() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/')
        return withoutTrailingSlashes(x) + "/quillmark";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return withoutTrailingSlashes(home) + "/.local/share/quillmark";
    return "/tmp/quillmark-" + std::to_string(::getuid());
}

}  // namespace

Paths::Paths(std::string programFolder)
    : program_(withoutTrailingSlashes(std::move(programFolder))),
      data_((program_ == "/" ? "" : program_) + "/ProgramData/QMK") {}

Paths Paths::current(const SettingsStore& settings) {
    if (const char* home = std::getenv("QUILLMARK_HOME"); home && *home) return Paths(home);
    // Only an absolute folder other than the root is usable: an empty value, a relative path or a
    // drive-letter path from another system would scatter data at the root or the working folder.
    std::string app = withoutTrailingSlashes(settings.read(keys::kAppPath));
    if (app.size() > 1 && app.front() == '/') return Paths(app);
    return Paths(perUserDefault());
}

bool Paths::ensureFolders(std::string* error) const {
    for (const std::string& folder : {program_, groupRecipients(), groupOutput(),
                                      groupUnsubscribers(), emlOutput(), images(), data_, outbox()})
        if (!makeFolders(folder, error)) return false;
    return true;
}

RunningCopyMarker::RunningCopyMarker(const Paths& paths) {
    if (!makeFolders(paths.dataRoot())) return;
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
