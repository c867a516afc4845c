// import, import-contacts and extract: recipients from files into new groups, and addresses out
// of a text file or a sheet. They run the same core as the group window and the main window and
// print what they made; Ctrl+C is the Stop command. On a terminal a progress line on stderr shows
// how far a long run is.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "groups/address_extraction.h"
#include "groups/recipient_import.h"
#include "groups/vcard_import.h"

namespace qm::cli {

namespace {

std::atomic<bool>* runningFlag = nullptr;

extern "C" void stopOnInterrupt(int) {
    if (runningFlag) runningFlag->store(false);
}

// Ctrl+C clears `running` while this object lives.
class InterruptStops {
  public:
    explicit InterruptStops(std::atomic<bool>& running) {
        runningFlag = &running;
        struct sigaction action {};
        action.sa_handler = stopOnInterrupt;
        ::sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptStops() {
        ::sigaction(SIGINT, &previous_, nullptr);
        runningFlag = nullptr;
    }

  private:
    struct sigaction previous_ {};
};

// One line on stderr, rewritten in place, at most five times a second; only on a terminal.
class ProgressLine {
  public:
    ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { clear(); }
    void show(const std::string& text, bool force = false) {
        if (!shown_) return;
        auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        std::string line = text.size() > 79 ? "..." + text.substr(text.size() - 76) : text;
        std::fprintf(stderr, "\r%-79s", line.c_str());
        std::fflush(stderr);
        dirty_ = true;
    }
    void clear() {
        if (shown_ && dirty_) std::fprintf(stderr, "\r%79s\r", "");
        dirty_ = false;
    }

  private:
    bool shown_;
    bool dirty_ = false;
    std::chrono::steady_clock::time_point last_{};
};

class ConsoleImport : public ImportObserver {
  public:
    void parsing(const std::string& text) override {
        file_ = text;
        line_.show(text, true);
    }
    void progress(std::size_t done, std::size_t total, std::size_t taken) override {
        int percent = total ? static_cast<int>(done * 100 / total) : 100;
        line_.show(file_ + ": " + std::to_string(percent) + " %, " + std::to_string(taken) +
                   " addresses");
    }
    void groupWritten(const ImportedGroup& group) override {
        line_.clear();
        std::cout << group.name << '\t' << group.recipients << '\n' << std::flush;
    }

  private:
    std::string file_;
    ProgressLine line_;
};

void addImportCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<ImportOptions>();
    auto names = std::make_shared<bool>(false);
    auto delimiter = std::make_shared<std::string>("enter");
    auto* cmd = app.add_subcommand(
        "import",
        "Import recipients from a text or CSV file, or every such file of a folder, "
        "into new groups (prints each group made and its size)");
    cmd->add_option("SOURCE", options->path, "File or folder")->required();
    cmd->add_flag("--names", *names, "Lines are Name,Email (or Name;Email)");
    cmd->add_option("--delimiter", *delimiter,
                    "Between addresses (between name and address "
                    "with --names); a .csv file uses line breaks")
        ->check(CLI::IsMember({"enter", "comma", "semicolon"}));
    cmd->add_flag("--recursive", options->includeSubdirectories,
                  "With a folder: its sub-folders too");
    auto columns = std::make_shared<bool>(false);
    auto* columnsFlag = cmd->add_flag(
        "--columns", *columns,
        "Columns of a CSV file: a header row, the e-mail column (and name, company, city ...) "
        "guessed from the header names");
    auto* emailColumn = cmd->add_option("--email-column", options->emailColumn,
                                        "Columns mode: the e-mail column, by header name or "
                                        "number (1 is the first)");
    auto* nameColumn = cmd->add_option("--name-column", options->nameColumn,
                                       "Columns mode: the name column, by header name or number");
    for (CLI::Option* o : {columnsFlag, emailColumn, nameColumn}) {
        o->excludes("--names");
        o->excludes("--delimiter");
    }
    cmd->callback([options, names, delimiter, columns, &exitCode] {
        auto paths = readyPaths();
        if (!paths) {
            exitCode = kExitFailure;
            return;
        }
        options->content = *names ? ImportContent::EmailsAndName : ImportContent::EmailsOnly;
        if (*columns || !options->emailColumn.empty() || !options->nameColumn.empty())
            options->content = ImportContent::CsvColumns;
        options->delimiter = *delimiter == "comma"       ? ImportDelimiter::Comma
                             : *delimiter == "semicolon" ? ImportDelimiter::Semicolon
                                                         : ImportDelimiter::Enter;
        options->source = isDirectory(options->path) ? ImportSource::Directory : ImportSource::File;
        if (*names && options->delimiter == ImportDelimiter::Enter)
            options->delimiter = ImportDelimiter::Comma;
        std::atomic<bool> running{true};
        InterruptStops interrupt(running);
        ConsoleImport observer;
        ImportResult r = RecipientImport(*paths, *options).run(running, &observer);
        switch (r.status) {
            case ImportStatus::Completed:
                std::cerr << r.message << '\n';
                exitCode = kExitOk;
                break;
            case ImportStatus::Stopped:
                std::cerr << "Stopped; the groups printed were written.\n";
                exitCode = kExitFailure;
                break;
            case ImportStatus::Failed:
            case ImportStatus::NothingFound:
                exitCode = fail(r.message);
                break;
        }
    });
}

void addContactsCommand(CLI::App& app, int& exitCode) {
    auto file = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "import-contacts",
        "Import the contacts of a vCard file (.vcf, 3.0 or 4.0) into new groups (prints each "
        "group made and its size)");
    cmd->add_option("FILE", *file, "vCard file")->required();
    cmd->callback([file, &exitCode] {
        auto paths = readyPaths();
        if (!paths) {
            exitCode = kExitFailure;
            return;
        }
        ContactsImportResult r = importContacts(*paths, *file);
        for (const auto& g : r.groups) std::cout << g.name << '\t' << g.recipients << '\n';
        if (!r.ok) {
            exitCode = fail(r.message);
            return;
        }
        std::cerr << r.message << '\n';
        exitCode = kExitOk;
    });
}

void addExtractCommand(CLI::App& app, int& exitCode) {
    auto file = std::make_shared<std::string>();
    auto sheet = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "extract",
        "Print the addresses found in a text file or a sheet (.xls, .xlsx, .ods, "
        ".csv), one a line, as the main window's Import Email Address finds them");
    cmd->add_option("FILE", *file, "Text file or spreadsheet")->required();
    cmd->add_option("--sheet", *sheet, "Sheet name (default: Sheet1, else the first sheet)");
    cmd->callback([file, sheet, &exitCode] {
        std::atomic<bool> running{true};
        InterruptStops interrupt(running);
        ProgressLine line;
        ExtractionRequest request;
        request.path = *file;
        request.sheet = *sheet;
        ExtractionResult r = extractAddresses(request, running, [&](std::size_t found) {
            line.show("Emails extracted: " + std::to_string(found));
        });
        line.clear();
        for (const auto& a : r.addresses) std::cout << a << '\n';
        if (r.status == ExtractionStatus::Failed) {
            exitCode = fail(r.message);
            return;
        }
        if (!r.message.empty()) std::cerr << r.message << '\n';
        exitCode = r.addresses.empty() ? kExitFailure : kExitOk;
    });
}

}  // namespace

void addImportCommands(CLI::App& app, int& exitCode) {
    addImportCommand(app, exitCode);
    addContactsCommand(app, exitCode);
    addExtractCommand(app, exitCode);
}

}  // namespace qm::cli
