// quillmark-cli: the core of Quillmark from a terminal, for scripts, cron and servers.
//
// Entry points: main() settles the group folder (a group-list open killed half way), registers
// every subsystem's commands and runs the one given.
//
// Failure: exit code 0 ok, 1 failure, 2 usage (cli/commands.h); an unwritable standard output
// is a failure. Every command but "address" works on this user's settings and folders; without a
// home folder to put them in, the command stops before it starts, with the reason and exit code 1.
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "config/paths.h"

namespace qm::cli {

int fail(std::string_view message) {
    std::cerr << message << '\n';
    return kExitFailure;
}

int failNoGroup(std::string_view group) {
    return fail("No group named '" + std::string(group) + "' (see quillmark-cli groups list)");
}

}  // namespace qm::cli

namespace {

// Thrown from the parse-complete callback, which runs before any command's own callback.
struct NoUserFolders {
    std::string message;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qm::cli;
    CLI::App app{"Quillmark from the command line: settings, groups, addresses and campaigns."};
    app.require_subcommand(1);
    int exitCode = kExitOk;
    addAppCommands(app, exitCode);
    addGroupCommands(app, exitCode);
    addDeliveryCommands(app, exitCode);
    addMessageCommands(app, exitCode);
    addSendCommands(app, exitCode);
    addImportCommands(app, exitCode);
    addSubscriptionCommands(app, exitCode);
    addScheduleCommands(app, exitCode);
    addSpamCommands(app, exitCode);
    addEmlCommands(app, exitCode);
    addDkimCommands(app, exitCode);
    addTemplateCommands(app, exitCode);
    app.parse_complete_callback([&app] {
        if (app.got_subcommand("address")) return;
        std::string error;
        if (!qm::locateUserFolders(&error)) throw NoUserFolders{error};
        settleGroupFolderAtStart();
    });
    try {
        app.parse(argc, argv);
    } catch (const NoUserFolders& e) {
        return fail(e.message);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        // Help of a subcommand arrives as CallForHelp from that subcommand.
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e);
            return kExitOk;
        }
        std::cerr << e.what() << "\nRun with --help for more information.\n";
        return kExitUsage;
    }
    std::cout.flush();
    if (!std::cout) return kExitFailure;
    return exitCode;
}
