// quillmark-cli: each subsystem registers its subcommands on the shared CLI11 app.
//
// Entry points: the add*Commands() registrations, settleGroupFolderAtStart(), fail().
// Failure: a command's callback stores its exit code in `exitCode`: 0 success, 1 failure (the
// system's message on stderr), 2 usage error (CLI11 reports those before any callback runs).
// Limits: none.
// Threads: the main thread; a command that runs the engine waits for it.
// Standard: none.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string_view>

#include "config/paths.h"

namespace qm::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Prints `message` on stderr and returns kExitFailure.
int fail(std::string_view message);
// "No group named 'NAME' (see quillmark-cli groups list)" on stderr; returns kExitFailure. The
// window's own text for a missing group file speaks of an application file, which leaves a user of
// the command line guessing.
int failNoGroup(std::string_view group);
// The folders in use with every one in place, or nullopt after printing why not.
std::optional<Paths> readyPaths();

// Finishes or undoes a group-list open that a killed process left half done
// (groups/group_folder.h), before any command looks at the groups; a sibling folder it cannot clear
// is reported on stderr.
void settleGroupFolderAtStart();

void addAppCommands(CLI::App& app, int& exitCode);
void addGroupCommands(CLI::App& app, int& exitCode);
// The commands that change groups and recipients, on the "groups" subcommand.
void addGroupStoreCommands(CLI::App& groups, int& exitCode);
void addDeliveryCommands(CLI::App& app, int& exitCode);
void addMessageCommands(CLI::App& app, int& exitCode);
void addSendCommands(CLI::App& app, int& exitCode);
// import, import-contacts, extract.
void addImportCommands(CLI::App& app, int& exitCode);
// unsubscribers fetch/filter/save, and "settings auto-unsubscribe" (after addAppCommands).
void addSubscriptionCommands(CLI::App& app, int& exitCode);
void addScheduleCommands(CLI::App& app, int& exitCode);
void addSpamCommands(CLI::App& app, int& exitCode);
void addEmlCommands(CLI::App& app, int& exitCode);
// dkim keygen, dkim check, check-domain.
void addDkimCommands(CLI::App& app, int& exitCode);
// template generate.
void addTemplateCommands(CLI::App& app, int& exitCode);

}  // namespace qm::cli
