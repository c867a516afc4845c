#include "groups/recipient_import.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <unordered_set>

#include "common/charset.h"
#include "common/file_util.h"
#include "common/text.h"
#include "groups/address.h"
#include "groups/csv_table.h"
#include "groups/group_store.h"
#include "groups/recipient.h"

namespace qm {

namespace {

char delimiterChar(ImportDelimiter d) {
    switch (d) {
        case ImportDelimiter::Comma:
            return ',';
        case ImportDelimiter::Semicolon:
            return ';';
        case ImportDelimiter::Enter:
            break;
    }
    return '\n';
}

// The seen list of the group being filled: open addressing over views into the file's text. It
// holds at most 32,000 addresses between clears, so 64K slots keep it half empty and in cache,
// with no allocation per address.
class SeenSet {
  public:
    static constexpr std::size_t kSlots = 65536;
    static_assert(kSlots >= 2 * kMaxGroupRecipients);

    SeenSet() : slots_(kSlots) {}
    // False when `s` (not empty) was there already.
    bool insert(std::string_view s) {
        for (std::size_t i = std::hash<std::string_view>{}(s) & (kSlots - 1);;
             i = (i + 1) & (kSlots - 1)) {
            std::string_view& slot = slots_[i];
            if (slot.data() == nullptr) {
                slot = s;
                return true;
            }
            if (slot == s) return false;
        }
    }
    void clear() { std::fill(slots_.begin(), slots_.end(), std::string_view()); }

  private:
    std::vector<std::string_view> slots_;
};

}  // namespace

bool splitImportItems(std::string_view text, std::string_view path, ImportContent content,
                      ImportDelimiter delimiter,
                      const std::function<bool(const ImportItem&)>& each) {
    if (content == ImportContent::EmailsOnly) {
        const char sep = path.ends_with("csv") ? '\n' : delimiterChar(delimiter);
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(sep, start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view item = trimWhite(text.substr(start, end - start));
            if (!item.empty() && !each(ImportItem{item, {}})) return false;
            start = end + 1;
        }
        return true;
    }
    // With names a record is a line; the field delimiter is never a line break.
    const char sep = path.ends_with(".csv") || delimiter == ImportDelimiter::Enter
                         ? ','
                         : delimiterChar(delimiter);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        std::size_t first = line.find(sep);
        if (first == std::string_view::npos) continue;
        std::string_view rest = line.substr(first + 1);
        std::size_t second = rest.find(sep);
        if (second != std::string_view::npos) rest = rest.substr(0, second);
        // Quotes leave the address; what is left is trimmed. The view stays inside `text`, so
        // a quote is removed only where it stands at an end (inner quotes fail the address
        // check all the same).
        std::string_view address = trimWhite(rest);
        while (!address.empty() && (address.front() == '"' || address.back() == '"')) {
            if (address.front() == '"') address.remove_prefix(1);
            if (!address.empty() && address.back() == '"') address.remove_suffix(1);
            address = trimWhite(address);
        }
        std::string name(trimWhite(line.substr(0, first)));
        // The name must not split the group line: a comma becomes the stand-in, a stray CR a space.
        std::replace(name.begin(), name.end(), ',', kCommaStandIn);
        std::replace(name.begin(), name.end(), '\r', ' ');
        if (userLength(name) > kMaxImportedName) name = firstChars(name, kMaxImportedName);
        if (!each(ImportItem{address, std::move(name)})) return false;
    }
    return true;
}

RecipientImport::RecipientImport(Paths paths, ImportOptions options, GroupNamer::Clock clock,
                                 unsigned seed)
    : paths_(std::move(paths)),
      options_(std::move(options)),
      namer_("Group", std::move(clock), seed) {}

bool RecipientImport::flushGroup(const std::string& source) {
    std::string name, error;
    if (!writeNewGroup(paths_, namer_, groupText_, name, &error)) {
        result_.status = ImportStatus::Failed;
        result_.message = error;
        if (!result_.groups.empty()) result_.message += "\nThe groups made before it were written.";
        return false;
    }
    result_.groups.push_back(ImportedGroup{name, groupCount_, source});
    if (observer_) observer_->groupWritten(result_.groups.back());
    groupText_.clear();
    groupCount_ = 0;
    return true;
}

RecipientImport::Step RecipientImport::importFile(const std::string& path,
                                                  const std::atomic<bool>& running) {
    if (observer_) observer_->parsing("Parsing " + path);
    std::string text, error;
    if (!readFile(path, text, &error)) {
        result_.unreadFiles.push_back(error.empty() ? path : error);
        return Step::Next;
    }
    ++result_.filesRead;
    groupText_.clear();
    groupCount_ = 0;
    if (options_.content == ImportContent::CsvColumns) return importCsvColumns(path, text, running);
    SeenSet seen;
    std::size_t taken = 0, nextReport = kImportSliceChars;
    Step step = Step::Next;
    const bool withNames = options_.content == ImportContent::EmailsAndName;
    bool whole = splitImportItems(
        text, path, options_.content, options_.delimiter, [&](const ImportItem& item) {
            if (!running.load(std::memory_order_relaxed)) {
                step = Step::Stop;
                return false;
            }
            if (observer_) {
                auto done = static_cast<std::size_t>(item.address.data() - text.data());
                if (done >= nextReport) {
                    observer_->progress(done, text.size(), taken);
                    nextReport = done + kImportSliceChars;
                }
            }
            if (!isEmailAddressQuick(item.address)) return true;
            // The views point into `text`, which outlives the set; the group it fills holds at
            // most 32,000, so the set never fills up.
            if (!seen.insert(item.address)) return true;
            ++taken;
            groupText_.append(item.address);
            groupText_ += ',';
            if (withNames) groupText_.append(item.name);
            groupText_ += ",,,,,,,,,,,,E\r\n";
            if (++groupCount_ == kMaxGroupRecipients) {
                if (!flushGroup(path)) {
                    step = Step::Fail;
                    return false;
                }
                seen.clear();
            }
            return true;
        });
    if (!whole) {
        groupText_.clear();
        groupCount_ = 0;
        return step;
    }
    if (observer_) observer_->progress(text.size(), text.size(), taken);
    if (groupCount_ > 0 && !flushGroup(path)) return Step::Fail;
    return Step::Next;
}

std::string noCsvColumnText(std::string_view named, std::string_view path,
                            const std::vector<std::string>& header) {
    std::string text = "No column '" + std::string(named) + "' in " + std::string(path);
    std::string names;
    for (const auto& h : header) names += (names.empty() ? "" : ", ") + h;
    return text + (names.empty() ? "." : " (its columns: " + names + ").");
}

RecipientImport::Step RecipientImport::importCsvColumns(const std::string& path,
                                                        std::string_view text,
                                                        const std::atomic<bool>& running) {
    const CsvTable table = readCsvTable(text);
    CsvColumns columns = guessCsvColumns(table);
    auto named = [&](const std::string& name, std::optional<std::size_t>& into) {
        if (name.empty()) return true;
        into = findCsvColumn(table, name);
        if (into) return true;
        result_.status = ImportStatus::Failed;
        result_.message = noCsvColumnText(name, path, table.header);
        return false;
    };
    if (!named(options_.emailColumn, columns.email)) return Step::Fail;
    if (!options_.emailColumn.empty()) columns.headerIsRecord = false;
    if (!options_.nameColumn.empty()) {
        if (!named(options_.nameColumn, columns[CsvField::Name])) return Step::Fail;
        columns[CsvField::FirstName].reset();
        columns[CsvField::LastName].reset();
    }
    if (!columns.email) return Step::Next;  // nothing to take from this file

    std::unordered_set<std::string> seen;
    std::size_t taken = 0;
    auto take = [&](const std::vector<std::string>& record) {
        Recipient r = csvRecipient(record, columns);
        if (!isEmailAddressQuick(r.email) || !seen.insert(r.email).second) return true;
        ++taken;
        groupText_ += formatStoredLine(r);
        groupText_ += "\r\n";
        if (++groupCount_ == kMaxGroupRecipients) {
            if (!flushGroup(path)) return false;
            seen.clear();
        }
        return true;
    };
    if (columns.headerIsRecord && !take(table.header)) return Step::Fail;
    for (const auto& record : table.records) {
        if (!running.load(std::memory_order_relaxed)) {
            groupText_.clear();
            groupCount_ = 0;
            return Step::Stop;
        }
        if (!take(record)) return Step::Fail;
    }
    if (observer_) observer_->progress(text.size(), text.size(), taken);
    if (groupCount_ > 0 && !flushGroup(path)) return Step::Fail;
    return Step::Next;
}

RecipientImport::Step RecipientImport::walk(const std::string& folder,
                                            const std::atomic<bool>& running) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        result_.unreadFiles.push_back(folder + ": " + ec.message());
        return Step::Next;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        if (!running.load(std::memory_order_relaxed)) return Step::Stop;
        std::string name = entry.path().filename().string();
        std::string path = entry.path().string();
        std::error_code typeError;
        if (entry.is_symlink(typeError) && entry.is_directory(typeError)) continue;
        if (entry.is_directory(typeError)) {
            if (!options_.includeSubdirectories) continue;
            if (Step s = walk(path, running); s != Step::Next) return s;
        } else if (name.ends_with(".txt") || name.ends_with(".csv")) {
            if (Step s = importFile(path, running); s != Step::Next) return s;
        }
    }
    return Step::Next;
}

ImportResult RecipientImport::run(const std::atomic<bool>& running, ImportObserver* observer) {
    observer_ = observer;
    result_ = {};
    if (trimWhite(options_.path).empty()) {
        result_.status = ImportStatus::Failed;
        result_.message = kMsgSelectSource;
        return result_;
    }
    const bool folder = options_.source == ImportSource::Directory;
    if (folder != isDirectory(options_.path)) {
        result_.status = ImportStatus::Failed;
        result_.message = std::string(kMsgSelectSource) + " (" + options_.path +
                          (folder ? " is not a folder)" : " is not a file)");
        return result_;
    }
    Step step = folder ? walk(options_.path, running) : importFile(options_.path, running);
    if (step == Step::Fail) return result_;
    if (step == Step::Stop) {
        result_.status = ImportStatus::Stopped;
        return result_;
    }
    if (!result_.unreadFiles.empty()) {
        result_.status = ImportStatus::Failed;
        result_.message = "Could not read:";
        for (const auto& f : result_.unreadFiles) result_.message += "\n" + f;
        if (!result_.groups.empty()) result_.message += "\nThe other files were imported.";
        return result_;
    }
    if (result_.groups.empty()) {
        // Saying "imported successfully" here would send the user looking for a group that is
        // not there.
        result_.status = ImportStatus::NothingFound;
        result_.message = std::string(kMsgNoAddressFound) + options_.path + ".";
        return result_;
    }
    result_.message = folder ? kMsgFilesImported : kMsgFileImported;
    return result_;
}

}  // namespace qm
