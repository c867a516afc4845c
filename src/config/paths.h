// Path roots and the data folders below them.
//
// The program folder is, in order: $QUILLMARK_HOME; the setting AppPath\path when it names an
// absolute folder; $XDG_DATA_HOME/quillmark; ~/.local/share/quillmark. A missing or unusable
// AppPath never puts data at the file-system root. The data root is the program folder followed by
// "/ProgramData/QMK". Both are formed afresh by every call (never cached), so a change of AppPath
// takes effect at the next use.
//
// ensureFolders() creates every folder that features write into; RunningCopyMarker holds a lock
// file in the data root for the life of the process. A second copy still starts: the marker only
// tells that a copy is running.
#pragma once

#include <string>

namespace qm {

class SettingsStore;

class Paths {
  public:
    static Paths current(const SettingsStore& settings);
    Paths(std::string programFolder);

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
    std::string spamMessageFile() const { return data_ + "/Message.txt"; }
    std::string spamOutputFile() const { return data_ + "/output.txt"; }
    std::string spamBatchFile() const { return data_ + "/saBat.bat"; }
    std::string runningCopyLock() const { return data_ + "/QuillmarkMutex.lock"; }

    // Creates every folder above that is missing. False with a one-line text on failure.
    bool ensureFolders(std::string* error = nullptr) const;

  private:
    std::string program_;
    std::string data_;
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
