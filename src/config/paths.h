// Path roots and the data folders below them.
//
// Entry points: locateUserFolders() at start-up; Paths::current() wherever a feature forms a path;
// ensureFolders(); RunningCopyMarker, a lock file in the data root held for the life of the
// process (a second copy still starts: the marker only tells that a copy is running).
//
// The program folder is, in order: $QUILLMARK_HOME; the setting AppPath\path when it names an
// absolute folder; $XDG_DATA_HOME/quillmark; <home>/.local/share/quillmark, the home folder from
// config/home_folder.h. The data root is the program folder followed by "/ProgramData/QMK". Both
// are formed afresh by every call (never cached), so a change of AppPath takes effect at the next
// use.
//
// Failure: without a home folder there is no per-user default, and no guessable folder under /tmp
// stands in for it. locateUserFolders() then returns false with the text to show, and both
// programs stop there; Paths::current() gives paths that ensureFolders() refuses (with the same
// text) and RunningCopyMarker does not hold. A missing or unusable AppPath never puts data at the
// file-system root.
//
// Limits: none beyond the system's path length.
//
// Threads: any; nothing is shared.
//
// Standard: the XDG base directory variables, with the POSIX password database for the home
// folder.
#pragma once

#include <optional>
#include <string>

namespace qm {

class SettingsStore;

// True when the settings file and the program folder both have a place; else false with a
// one-line text for the user. Run before anything else reads or writes a file of this user.
bool locateUserFolders(std::string* error);

class Paths {
  public:
    // The folders of this user, or nullopt with the reason when no home folder can be found.
    static std::optional<Paths> find(const SettingsStore& settings, std::string* error = nullptr);
    // find(), or without a home folder paths that ensureFolders() refuses.
    static Paths current(const SettingsStore& settings);
    Paths(std::string programFolder);

    // False for the paths current() gives without a home folder; problem() says why.
    bool usable() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    const std::string& programFolder() const { return program_; }
    const std::string& dataRoot() const { return data_; }

    // Below the program folder.
    std::string groupRecipients() const { return program_ + "/GroupRecipients"; }
    std::string groupOutput() const { return program_ + "/GroupOutput"; }
    std::string groupUnsubscribers() const { return program_ + "/GroupUnsubscribers"; }
    std::string emlOutput() const { return program_ + "/EmlOutput"; }
    std::string images() const { return program_ + "/images"; }
    std::string startupPage() const { return program_ + "/Startup.htm"; }
    std::string previewPage() const { return program_ + "/temp.htm"; }

    // Below the data root.
    std::string schedulerFile() const { return data_ + "/Scheduler.txt"; }
    std::string schedulerStatusFile() const { return data_ + "/Scheduler_Status.txt"; }
    std::string sendLog() const { return data_ + "/SendLog.txt"; }
    std::string outbox() const { return data_ + "/OutBox"; }
    // Each spam check's private folder is this followed by six characters of mkdtemp(3).
    std::string spamCheckFolderPrefix() const { return data_ + "/SpamCheck."; }
    std::string spamBatchFile() const { return data_ + "/saBat.bat"; }
    std::string runningCopyLock() const { return data_ + "/QuillmarkMutex.lock"; }

    // Creates every folder above that is missing. False with a one-line text on failure.
    bool ensureFolders(std::string* error = nullptr) const;

  private:
    std::string program_;
    std::string data_;
    std::string problem_;
};

// Holds the running-copy lock file open (and shared-locked) until destroyed.
class RunningCopyMarker {
  public:
    explicit RunningCopyMarker(const Paths& paths);
    ~RunningCopyMarker();
    RunningCopyMarker(const RunningCopyMarker&) = delete;
    RunningCopyMarker& operator=(const RunningCopyMarker&) = delete;

    bool held() const { return fd_ >= 0; }
    // True when some process holds a marker in this data root (this one included).
    static bool anyCopyRunning(const Paths& paths);

  private:
    int fd_ = -1;
};

}  // namespace qm
