// eml extract: the content step of the EML import from a terminal. The message's files go into the
// output folder (the program's EmlOutput unless --out names another), the body beside them as
// body.html or body.txt, and the command prints what it wrote.
//
// EmlOutput is emptied first, as the desktop import does. A folder given with --out must be
// missing or empty: a mistyped folder loses no files.
#include <dirent.h>

#include <iostream>

#include "cli/commands.h"
#include "common/atomic_file.h"
#include "common/file_util.h"
#include "message/eml_content.h"

namespace qm::cli {

namespace {

struct EmlOptionsCli {
    std::string file, out;
};

bool emptyOrMissing(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return !fileExists(folder);
    bool empty = true;
    while (dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..") empty = false;
    }
    ::closedir(dir);
    return empty;
}

int runExtract(const EmlOptionsCli& o) {
    std::string folder = o.out;
    if (folder.empty()) {
        auto paths = readyPaths();
        if (!paths) return kExitFailure;
        folder = paths->emlOutput();
    } else if (!emptyOrMissing(folder)) {
        return fail("The output folder is not empty: " + folder);
    }
    EmlOptions options;
    options.reservedNames = {"body.html", "body.txt"};
    EmlExtract e = extractEml(o.file, folder, options);
    if (!e.ok) return fail(e.error);
    const std::string bodyPath = folder + (e.bodyIsHtml ? "/body.html" : "/body.txt");
    std::string error;
    if (!writeFileAtomic(bodyPath, e.body, &error)) return fail(error);
    std::cout << "body: " << (e.bodyIsHtml ? "html" : "text") << "\n";
    std::cout << "body file: " << bodyPath << "\n";
    for (const std::string& name : e.names) std::cout << "file: " << name << "\n";
    return kExitOk;
}

}  // namespace

void addEmlCommands(CLI::App& app, int& exitCode) {
    auto* eml = app.add_subcommand("eml", "Saved e-mail files (.eml)");
    eml->require_subcommand(1);
    auto o = std::make_shared<EmlOptionsCli>();
    auto* extract = eml->add_subcommand(
        "extract", "Write the body and the attached and embedded files of a .eml file");
    extract->add_option("file", o->file, "The .eml file")->required()->check(CLI::ExistingFile);
    extract->add_option("--out", o->out,
                        "Output folder, missing or empty (default: EmlOutput, emptied first)");
    extract->callback([&exitCode, o] { exitCode = runExtract(*o); });
}

}  // namespace qm::cli
