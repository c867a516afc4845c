// The import run: addresses (or names and addresses) from text and CSV files, one file or every
// such file of a folder tree, into new groups of at most 32,000 recipients.
//
// Entry points: splitImportItems() is the tokenizer (pure: the candidates of one file's text);
// RecipientImport::run() reads the source and writes the groups (new_group.h names them).
//
// Rules: "Emails Only" splits at the chosen delimiter (line break, "," or ";"), at line breaks
// always for a ".csv" file; each item is trimmed and is one candidate. "Emails and Name" reads
// one record per line: the name before the first delimiter ("," always for ".csv"), the address
// up to the next one; a line without a delimiter is skipped, double quotes leave the address, a
// comma left in the name is stored as 0xB8 and the name is cut to 100 characters. A line break is
// LF with or without a CR before it (files made here end lines in LF alone). A candidate is taken
// when it passes isEmailAddress() and was not seen before in the group being filled (exact,
// case-sensitive; a hash set, so a large file imports in linear time). Every 32,000 addresses the
// group is written and the seen set starts again; each file's rest becomes a group of its own.
//
// Failure: run() returns an ImportResult: Completed with the message to show, Stopped (groups
// already written stay; the partly filled one is dropped), or Failed with the text saying what
// was not written. A group that cannot be written ends the run at once: nothing is reported as
// imported that is not on disk. A file of a folder that cannot be read is named in the result and
// the others are still imported.
// Limits: a file is read whole up to 1 GiB; folders are walked without following symbolic links
// to folders (a link loop cannot trap the walk); the running flag is tested before each
// candidate.
// Threads: run() blocks; the caller runs it on a worker thread and clears `running` to stop it.
// The observer is called on that thread.
// Standard: none.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/paths.h"
#include "groups/new_group.h"

namespace qm {

// CsvColumns: the file is a table with a header row (groups/csv_table.h); the e-mail column and
// the name column are the ones named in the options, else guessed from the header names, and the
// other recipient fields are taken from the columns whose header names them.
enum class ImportContent { EmailsOnly, EmailsAndName, CsvColumns };
enum class ImportDelimiter { Enter, Comma, Semicolon };
enum class ImportSource { File, Directory };

struct ImportOptions {
    ImportContent content = ImportContent::EmailsOnly;
    ImportDelimiter delimiter = ImportDelimiter::Enter;
    ImportSource source = ImportSource::File;
    bool includeSubdirectories = false;
    std::string path;
    // CsvColumns: a header name (letter case ignored) or a 1-based number; empty: guessed.
    std::string emailColumn;
    std::string nameColumn;
};

inline constexpr std::size_t kImportSliceChars = 200000;
inline constexpr std::size_t kMaxImportedName = 100;

inline constexpr std::string_view kMsgSelectSource =
    "Please select a proper source to import recipients.";
inline constexpr std::string_view kMsgFileImported = "File has been imported successfully.";
inline constexpr std::string_view kMsgFilesImported = "File(s) have been imported successfully.";
inline constexpr std::string_view kMsgStopping = "Stopping, it may take some time.";
// Followed by the file or folder and ".".
inline constexpr std::string_view kMsgNoAddressFound = "No e-mail address was found in ";
// "No column 'X' in FILE (its columns: A, B, C)."
std::string noCsvColumnText(std::string_view named, std::string_view path,
                            const std::vector<std::string>& header);

// One candidate: the address as found (trimmed) and, with names, the name as it will be stored.
struct ImportItem {
    std::string_view address;
    std::string name;
};

// Calls `each(item)` for every candidate of `text` (a file at `path`, whose suffix chooses the
// delimiter for CSV), in order, until it returns false. Returns false when stopped that way.
bool splitImportItems(std::string_view text, std::string_view path, ImportContent content,
                      ImportDelimiter delimiter,
                      const std::function<bool(const ImportItem&)>& each);

struct ImportedGroup {
    std::string name;
    std::size_t recipients = 0;
    std::string source;  // the file it came from
};

// NothingFound: the source was read whole and no address was taken (a contacts export with many
// columns, say), so no group was made; the message names the source.
enum class ImportStatus { Completed, Stopped, Failed, NothingFound };

struct ImportResult {
    ImportStatus status = ImportStatus::Completed;
    std::vector<ImportedGroup> groups;
    std::vector<std::string> unreadFiles;  // "path: reason"
    std::size_t filesRead = 0;
    std::string message;  // the text to show (empty when stopped)
};

class ImportObserver {
  public:
    virtual ~ImportObserver() = default;
    // "Parsing " + path, as the dialog shows it.
    virtual void parsing(const std::string& /*path*/) {}
    // After each slice of a file: bytes consumed so far of `total`, addresses taken in the file.
    virtual void progress(std::size_t /*done*/, std::size_t /*total*/, std::size_t /*taken*/) {}
    virtual void groupWritten(const ImportedGroup& /*group*/) {}
};

class RecipientImport {
  public:
    RecipientImport(Paths paths, ImportOptions options, GroupNamer::Clock clock = nullptr,
                    unsigned seed = 0);

    ImportResult run(const std::atomic<bool>& running, ImportObserver* observer = nullptr);

  private:
    enum class Step { Next, Stop, Fail };
    Step importFile(const std::string& path, const std::atomic<bool>& running);
    Step walk(const std::string& folder, const std::atomic<bool>& running);
    bool flushGroup(const std::string& source);
    Step importCsvColumns(const std::string& path, std::string_view text,
                          const std::atomic<bool>& running);

    Paths paths_;
    ImportOptions options_;
    GroupNamer namer_;
    ImportObserver* observer_ = nullptr;
    ImportResult result_;
    std::string groupText_;
    std::size_t groupCount_ = 0;
};

}  // namespace qm
