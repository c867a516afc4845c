// quillmark-cli groups commands: list, show, save-list and open-list, and the settling of the
// group folder that every start of quillmark-cli runs first.
//
// Entry points: addGroupCommands(), settleGroupFolderAtStart().
//
// Failure: a command that fails prints the core's fixed text on stderr and exits 1; open-list then
// has changed no group. A sibling folder that start-up cannot clear is reported on stderr and the
// command runs all the same (the group folder holds a whole set either way).
//
// Threads: the main thread only.
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "groups/group_files.h"
#include "groups/group_folder.h"

namespace qm::cli {

std::optional<Paths> readyPaths() {
    Paths p = Paths::current(SettingsStore::open());
    std::string error;
    if (!p.ensureFolders(&error)) {
        fail(error);
        return std::nullopt;
    }
    return p;
}

void settleGroupFolderAtStart() {
    std::string error;
    if (!settleGroupFolder(Paths::current(SettingsStore::open()), &error))
        std::cerr << error << '\n';
}

void addGroupCommands(CLI::App& app, int& exitCode) {
    auto* groups = app.add_subcommand("groups", "Recipient groups and group-list files");
    groups->require_subcommand(1);
    addGroupStoreCommands(*groups, exitCode);

    groups->add_subcommand("list", "Print the group names, sorted")->callback([&exitCode] {
        auto p = readyPaths();
        if (!p) {
            exitCode = kExitFailure;
            return;
        }
        for (const auto& name : listGroups(*p)) std::cout << name << '\n';
        exitCode = kExitOk;
    });
    {
        auto name = std::make_shared<std::string>();
        auto* show = groups->add_subcommand("show", "Print one stored line per recipient of NAME");
        show->add_option("NAME", *name, "Group name")->required();
        show->callback([&exitCode, name] {
            auto p = readyPaths();
            if (!p) {
                exitCode = kExitFailure;
                return;
            }
            std::vector<Recipient> members;
            std::string message;
            const std::string path = groupFilePath(*p, *name);
            if (!fileExists(path)) {
                exitCode = failNoGroup(*name);
                return;
            }
            if (!readGroupFile(path, members, &message)) {
                exitCode = fail(message);
                return;
            }
            for (const auto& r : members) std::cout << formatStoredLine(r) << '\n';
            exitCode = kExitOk;
        });
    }
    {
        auto file = std::make_shared<std::string>();
        auto* save = groups->add_subcommand("save-list", "Write every group into FILE.hvt");
        save->add_option("FILE", *file, "Group-list file (.hvt is appended when missing)")
            ->required();
        save->callback([&exitCode, file] {
            auto p = readyPaths();
            if (!p) {
                exitCode = kExitFailure;
                return;
            }
            std::string message;
            std::string target = groupListFileName(*file);
            exitCode = writeGroupList(*p, target, &message) ? kExitOk : fail(message);
            if (exitCode == kExitOk) std::cout << "saved " << target << '\n';
        });
    }
    {
        auto file = std::make_shared<std::string>();
        auto* open = groups->add_subcommand(
            "open-list",
            "Replace every group by the groups of FILE.hvt (nothing changes on error)");
        open->add_option("FILE", *file, "Group-list file")->required();
        open->callback([&exitCode, file] {
            auto p = readyPaths();
            if (!p) {
                exitCode = kExitFailure;
                return;
            }
            std::string message;
            std::vector<std::string> created;
            if (!readGroupList(*p, *file, &created, &message)) {
                exitCode = fail(message);
                return;
            }
            for (const auto& name : created) std::cout << name << '\n';
            exitCode = kExitOk;
        });
    }
}

}  // namespace qm::cli
