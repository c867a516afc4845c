// A .eml file comes from anywhere: whatever its bytes, the content step must not crash or hang,
// and every file it writes lands inside the output folder under a name it reports (the folder
// beside it stays untouched).
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "common/atomic_file.h"
#include "message/eml_content.h"

namespace {

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return out;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") out.insert(name);
    }
    ::closedir(dir);
    return out;
}

// Never destroyed, so the exit hook that removes the folder can still read its name.
const std::string& workFolder() {
    static const std::string& folder = *new std::string([] {
        char pattern[] = "/tmp/qm-fuzz-eml-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        std::atexit([] { std::filesystem::remove_all(workFolder()); });
        return std::string(made);
    }());
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string& work = workFolder();
    const std::string eml = work + "/in.eml";
    const std::string out = work + "/out";
    if (!qm::writeFileAtomic(eml, input, nullptr, {0600, false})) std::abort();
    qm::EmlExtract e = qm::extractEml(eml, out, {"EmlOutput/", {}});
    if (!e.ok) return 0;
    if (entries(work) != std::set<std::string>{"in.eml", "out"}) std::abort();
    std::set<std::string> written = entries(out);
    if (written != std::set<std::string>(e.names.begin(), e.names.end())) std::abort();
    if (written.size() != e.names.size()) std::abort();  // no name twice
    for (const std::string& name : e.names)
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            std::abort();
    return 0;
}
