// groups commands that change groups and recipients: create, rename, delete, add, set-status,
// remove, find, export, paste. They run the same checks and print the same messages as the group
// window; each one loads the group whole, changes it under the group's lock and ends.
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "config/paths.h"
#include "config/settings.h"
#include "groups/group_export.h"
#include "groups/group_store.h"

namespace qm::cli {

namespace {

// A store over the program folder in use, or nullopt after printing why there is none.
std::optional<GroupStore> openStore() {
    auto paths = readyPaths();
    if (!paths) return std::nullopt;
    return GroupStore(std::move(*paths));
}

// Prints the notices of `r` on stderr and turns it into an exit code; a missing group file is
// named as the group `group` the user typed.
int finish(const StoreResult& r, std::string_view group = {}) {
    for (const auto& n : r.notices) std::cerr << n << '\n';
    if (r.ok()) return kExitOk;
    if (r.status == StoreStatus::FileRemoved && !group.empty()) return failNoGroup(group);
    return fail(r.message);
}

// Runs `body` on a store with `group` loaded whole.
template <typename F>
int withLoadedGroup(const std::string& group, F&& body) {
    auto store = openStore();
    if (!store) return kExitFailure;
    StoreResult loaded = store->load(group);
    if (!loaded.ok()) return finish(loaded, group);
    for (const auto& n : loaded.notices) std::cerr << n << '\n';
    return body(*store);
}

void addRecipientCommand(CLI::App& groups, int& exitCode) {
    auto group = std::make_shared<std::string>();
    auto typed = std::make_shared<Recipient>();
    auto yes = std::make_shared<bool>(false);
    auto* add = groups.add_subcommand("add", "Add one recipient to NAME (the entry checks apply)");
    add->add_option("NAME", *group, "Group name")->required();
    add->add_option("--email", typed->email, "E-mail address")->required();
    add->add_option("--name", typed->name, "Name (letters only)");
    add->add_option("--telephone", typed->telephone, "Telephone number");
    add->add_option("--address1", typed->address1, "Address 1 (may span lines)");
    add->add_option("--title", typed->title, "Title (letters only)");
    add->add_option("--company", typed->company, "Company");
    add->add_option("--mobile", typed->mobile, "Mobile number");
    add->add_option("--fax", typed->fax, "Fax number");
    add->add_option("--address2", typed->address2, "Address 2 (may span lines)");
    add->add_option("--city", typed->city, "City");
    add->add_option("--state", typed->state, "State");
    add->add_option("--zip", typed->zip, "Zip code");
    add->add_option("--country", typed->country, "Country/Region");
    add->add_flag("--yes", *yes, "Accept an Address 1 shorter than 8 characters");
    add->callback([&exitCode, group, typed, yes] {
        EntryCheck check = checkRecipientEntry(*typed);
        if (!check.result.ok()) {
            exitCode = finish(check.result);
            return;
        }
        if (check.askShortAddress && !*yes) {
            exitCode = fail(std::string(kAskShortAddress) + " (add --yes to go on)");
            return;
        }
        exitCode = withLoadedGroup(
            *group, [&](GroupStore& store) { return finish(store.addRecipient(check.record)); });
    });
}

void addFindCommand(CLI::App& groups, int& exitCode) {
    auto group = std::make_shared<std::string>();
    auto expr = std::make_shared<std::string>();
    auto field = std::make_shared<FindField>(FindField::Email);
    auto op = std::make_shared<FindOperator>(FindOperator::Is);
    const std::map<std::string, FindField> fields{{"email", FindField::Email},
                                                  {"name", FindField::Name}};
    const std::map<std::string, FindOperator> ops{{"is", FindOperator::Is},
                                                  {"starts", FindOperator::StartsWith},
                                                  {"ends", FindOperator::EndsWith},
                                                  {"domain", FindOperator::DomainIs}};
    auto* find = groups.add_subcommand(
        "find", "Print the stored line of every recipient of NAME that matches (any letter case)");
    find->add_option("NAME", *group, "Group name")->required();
    find->add_option("EXPR", *expr, "Search expression")->required();
    find->add_option("--by", *field, "email or name")->transform(CLI::CheckedTransformer(fields));
    find->add_option("--op", *op, "is, starts, ends or domain (e-mail only)")
        ->transform(CLI::CheckedTransformer(ops));
    find->callback([&exitCode, group, expr, field, op] {
        exitCode = withLoadedGroup(*group, [&](GroupStore& store) {
            std::vector<std::size_t> rows;
            StoreResult r = store.find(*field, *op, *expr, rows);
            for (std::size_t i : rows) std::cout << formatStoredLine(store.rows()[i]) << '\n';
            return finish(r);
        });
    });
}

void addExportCommand(CLI::App& groups, int& exitCode) {
    auto group = std::make_shared<std::string>();
    auto file = std::make_shared<std::string>();
    auto mode = std::make_shared<std::string>("emails");
    auto separator = std::make_shared<std::string>();
    const std::map<std::string, ExportSeparator> separators{
        {"enter", ExportSeparator::Enter},         {"comma", ExportSeparator::Comma},
        {"semicolon", ExportSeparator::Semicolon}, {"tab", ExportSeparator::Tab},
        {"tilde", ExportSeparator::Tilde},         {"bar", ExportSeparator::Bar},
        {"caret", ExportSeparator::Caret}};
    auto* exp = groups.add_subcommand(
        "export", "Write the recipients of NAME to FILE in file order (a .csv FILE gets a header)");
    exp->add_option("NAME", *group, "Group name")->required();
    exp->add_option("FILE", *file, "Output file")->required();
    exp->add_option("--mode", *mode, "emails, names (name and e-mail), all, or vcard")
        ->check(CLI::IsMember({"emails", "names", "all", "vcard"}));
    exp->add_option("--separator", *separator,
                    "enter (emails only; their default), comma (default of the others), "
                    "semicolon, tab, tilde, bar, caret")
        ->check(CLI::IsMember({"enter", "comma", "semicolon", "tab", "tilde", "bar", "caret"}));
    exp->callback([&exitCode, group, file, mode, separator, separators] {
        exitCode = withLoadedGroup(*group, [&](GroupStore& store) {
            StoreResult r;
            if (*mode == "vcard") {
                r = exportVCards(store.rows(), *file);
            } else {
                ExportMode m = *mode == "emails"  ? ExportMode::Emails
                               : *mode == "names" ? ExportMode::EmailsAndName
                                                  : ExportMode::AllFields;
                std::string sep =
                    !separator->empty() ? *separator : (*mode == "emails" ? "enter" : "comma");
                r = exportToFile(store.rows(), *file, m, separators.at(sep));
            }
            if (r.ok()) std::cout << r.message << '\n';
            return finish(r);
        });
    });
}

}  // namespace

void addGroupStoreCommands(CLI::App& groups, int& exitCode) {
    {
        auto name = std::make_shared<std::string>();
        auto* create = groups.add_subcommand("create", "Create the empty group NAME");
        create->add_option("NAME", *name, "Group name")->required();
        create->callback([&exitCode, name] {
            auto store = openStore();
            exitCode = store ? finish(store->createGroup(*name)) : kExitFailure;
        });
    }
    {
        auto from = std::make_shared<std::string>();
        auto to = std::make_shared<std::string>();
        auto* rename = groups.add_subcommand("rename", "Rename group OLD to NEW");
        rename->add_option("OLD", *from, "Group name")->required();
        rename->add_option("NEW", *to, "New group name")->required();
        rename->callback([&exitCode, from, to] {
            auto store = openStore();
            exitCode = store ? finish(store->renameGroup(*from, *to), *from) : kExitFailure;
        });
    }
    {
        auto name = std::make_shared<std::string>();
        auto* del = groups.add_subcommand("delete", "Delete group NAME and its recipients");
        del->add_option("NAME", *name, "Group name")->required();
        del->callback([&exitCode, name] {
            auto store = openStore();
            exitCode = store ? finish(store->deleteGroup(*name), *name) : kExitFailure;
        });
    }
    addRecipientCommand(groups, exitCode);
    {
        auto group = std::make_shared<std::string>();
        auto email = std::make_shared<std::string>();
        auto status = std::make_shared<std::string>();
        auto* set = groups.add_subcommand(
            "set-status", "Enable or disable the recipient EMAIL (exact case) of NAME");
        set->add_option("NAME", *group, "Group name")->required();
        set->add_option("EMAIL", *email, "E-mail address")->required();
        set->add_option("STATUS", *status, "enabled or disabled")
            ->required()
            ->check(CLI::IsMember({"enabled", "disabled"}));
        set->callback([&exitCode, group, email, status] {
            exitCode = withLoadedGroup(*group, [&](GroupStore& store) {
                return finish(store.setRecipientStatus(*email, *status == "enabled"
                                                                   ? RecipientStatus::Enabled
                                                                   : RecipientStatus::Disabled));
            });
        });
    }
    {
        auto group = std::make_shared<std::string>();
        auto email = std::make_shared<std::string>();
        auto* remove = groups.add_subcommand(
            "remove", "Remove the recipient EMAIL (exact case) and every identical line from NAME");
        remove->add_option("NAME", *group, "Group name")->required();
        remove->add_option("EMAIL", *email, "E-mail address")->required();
        remove->callback([&exitCode, group, email] {
            exitCode = withLoadedGroup(
                *group, [&](GroupStore& store) { return finish(store.deleteRecipient(*email)); });
        });
    }
    addFindCommand(groups, exitCode);
    addExportCommand(groups, exitCode);
    {
        auto group = std::make_shared<std::string>();
        auto* paste = groups.add_subcommand(
            "paste", "Add the group lines read from standard input to NAME, as pasting does");
        paste->add_option("NAME", *group, "Group name")->required();
        paste->callback([&exitCode, group] {
            std::string text(std::istreambuf_iterator<char>(std::cin), {});
            exitCode = withLoadedGroup(*group, [&](GroupStore& store) {
                GroupStore::PasteCounts counts;
                StoreResult r = store.paste(text, &counts);
                if (r.ok())
                    std::cout << "added " << counts.added << ", dropped " << counts.dropped << '\n';
                return finish(r);
            });
        });
    }
}

}  // namespace qm::cli
