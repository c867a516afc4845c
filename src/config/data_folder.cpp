#include "config/data_folder.h"

#include <unistd.h>

#include <cstdlib>

#include "common/file_util.h"

namespace qm {

namespace {

std::string executableFolder() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool holdsPictures(const std::string& folder) {
    return !folder.empty() && isDirectory(folder + "/images");
}

}  // namespace

std::string installedDataFolder() {
    if (const char* given = std::getenv("QUILLMARK_DATA"); given && *given) return given;
    if (std::string exe = executableFolder(); !exe.empty()) {
        std::string installed = exe + "/../share/quillmark";
        if (holdsPictures(installed)) return installed;
    }
#ifdef QM_BUILD_DATA_DIR
    if (holdsPictures(QM_BUILD_DATA_DIR)) return QM_BUILD_DATA_DIR;
#endif
    return {};
}

std::string installedReadme() {
    if (const char* given = std::getenv("QUILLMARK_DOC"); given && *given) {
        std::string file = std::string(given) + "/README.md";
        return fileExists(file) ? file : std::string();
    }
    if (std::string exe = executableFolder(); !exe.empty()) {
        std::string installed = exe + "/../share/doc/quillmark/README.md";
        if (fileExists(installed)) return installed;
    }
#ifdef QM_SOURCE_README
    if (fileExists(QM_SOURCE_README)) return QM_SOURCE_README;
#endif
    return {};
}

}  // namespace qm
