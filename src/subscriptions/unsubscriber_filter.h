// Filter and save unsubscribers over chosen groups.
//
// Filter marks every recipient of the chosen groups whose e-mail is in a list of addresses (read
// from a text file) as Unsubscribed; Save collects the addresses of every Unsubscribed recipient
// of the chosen groups into a text file.
//
// Entry points: parseUnsubscriberInput() (the input file's text into distinct addresses),
// filterGroups(), saveUnsubscribed(), checkFilterStart() / checkSaveStart() (the dialog's checks).
//
// Rewrite: a group file is rewritten from its parsed lines under the group's lock: a matched line
// becomes the record's stored-form line with status U, every other byte stays as it was (a line is
// never matched inside a longer line, as a text replacement would). A group in which nothing
// changes is not written; a rewrite goes through writeFileAtomic.
//
// Failure: a group file that cannot be read counts as empty; a group that cannot be locked or
// written is left as it was, named in the closing text (which then does not say the filtering
// succeeded; a write failure is also a notice at once), and the run goes on with the next group.
// Save writes its file only when something was found. Limits: addresses compared ignoring ASCII
// letter case. A last line without CR LF is left as it is (it is not a finished record). Threads:
// one worker per run; the observer is called on it; `running` is cleared by Stop from another
// thread and read before each group and every line. Standard: the group line format
// (groups/recipient.h).
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class Paths;

// Tab, CR, LF, blank, "," and ";" end a token, so a file with LF line ends (Linux), CR LF
// (Windows) or a mix reads the same; tokens that pass the address rule are kept once each, letter
// case ignored, in the order first seen.
std::vector<std::string> parseUnsubscriberInput(std::string_view text);

class FilterObserver {
  public:
    virtual ~FilterObserver() = default;
    virtual void status(const std::string& text) = 0;
    virtual void notice(const std::string& text) = 0;
};

enum class FilterOutcome { Done, Stopped, NothingFound, GroupsSkipped };

struct FilterResult {
    FilterOutcome outcome = FilterOutcome::Done;
    std::string message;  // the closing text to show (empty after a Stop)
    std::size_t changedGroups = 0;
    std::size_t marked = 0;                  // lines turned Unsubscribed (or rewritten as such)
    std::size_t found = 0;                   // save: addresses written
    std::vector<std::string> skippedGroups;  // filter: not locked or not written, left as they were
};

enum class FilterStartStatus { Ok, NoGroups, NoFile, FileUnreadable };
struct FilterStartCheck {
    FilterStartStatus status = FilterStartStatus::Ok;
    std::string message;
    bool ok() const { return status == FilterStartStatus::Ok; }
};
// Filter: groups chosen, an input path, a readable file (its text into `addresses`).
FilterStartCheck checkFilterStart(const std::vector<std::string>& groups, std::string_view path,
                                  std::vector<std::string>& addresses);
// Save: groups chosen and an output path.
FilterStartCheck checkSaveStart(const std::vector<std::string>& groups, std::string_view path);

// Marks the listed addresses Unsubscribed in each group, in order.
FilterResult filterGroups(const Paths& paths, const std::vector<std::string>& groups,
                          const std::vector<std::string>& addresses,
                          const std::atomic<bool>& running, FilterObserver& observer);
// Writes the distinct e-mails of the Unsubscribed recipients of the groups to `outputFile`.
FilterResult saveUnsubscribed(const Paths& paths, const std::vector<std::string>& groups,
                              const std::string& outputFile, const std::atomic<bool>& running,
                              FilterObserver& observer);

}  // namespace qm
