#include "spamcheck/spam_check.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/smtp_transparency.h"
#include "common/text.h"
#include "config/paths.h"
#include "delivery/recipient_delivery.h"
#include "delivery/run_request.h"
#include "message/dynamic_variables.h"
#include "message/html_tools.h"
#include "message/list_unsubscribe.h"
#include "spamcheck/analyser_process.h"

namespace qm {

namespace {

constexpr std::uint64_t kOutputReadLimit = 64ull << 20;

std::string firstLine(std::string_view text) {
    text = trimWhite(text);
    return std::string(text.substr(0, text.find('\n')));
}

std::string seconds(std::chrono::milliseconds ms) {
    return std::to_string((ms.count() + 999) / 1000);
}

// The folder of one check (mode 0700), removed with everything in it when the check ends: two
// checks at once (the window and the command line) never read each other's message or answer.
class CheckFolder {
  public:
    explicit CheckFolder(const Paths& paths) {
        std::string pattern = paths.spamCheckFolderPrefix() + "XXXXXX";
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
        else
            error_ = std::strerror(errno);
    }
    ~CheckFolder() {
        if (path_.empty()) return;
        for (const auto& name : listFiles(path_, "")) removeFile(path_ + "/" + name);
        ::rmdir(path_.c_str());
    }
    CheckFolder(const CheckFolder&) = delete;
    CheckFolder& operator=(const CheckFolder&) = delete;

    const std::string& path() const { return path_; }  // empty when it could not be made
    const std::string& error() const { return error_; }

  private:
    std::string path_;
    std::string error_;
};

}  // namespace

std::string spamCheckMessageText(CampaignMessage m, const MimeSources& sources) {
    markInlinePictures(m);
    std::string body = m.unsubscribeAddress.empty()
                           ? m.body
                           : withUnsubscribeText(m.body, m.format, m.unsubscribeAddress,
                                                 m.unsubscribeScope, std::nullopt, m.footerMarkup);
    if (m.useDynamicVariables) body = personalise(body, m.senderAddress);
    MimeMessage msg;
    msg.extraHeaders = listUnsubscribeHeaders(m, m.senderAddress, std::nullopt);
    buildRecipientMessage(msg, m, m.senderAddress, body, sources);
    return msg.headerBlock + smtpTransparency(msg.wholeBody());
}

std::optional<AnalyserLocation> locateAnalyser(const Paths& paths) {
    const std::string bundled = paths.programFolder() + "/spamassassin/spamassassin";
    if (auto found = findExecutable(bundled)) return AnalyserLocation{*found, true};
    if (auto found = findExecutable("spamassassin")) return AnalyserLocation{*found, false};
    return std::nullopt;
}

std::string prefsFilePath(const Paths& paths) {
    return paths.dataRoot() + "/user_prefs";
}

bool ensurePrefsFile(const std::string& path, std::string* error) {
    if (fileExists(path)) return true;
    return writeFileAtomic(path, kDefaultPrefs, error);
}

SpamCheckResult runSpamCheck(const CampaignMessage& m, const Paths& paths,
                             const SpamCheckSetup& setup, const std::atomic<bool>* cancel) {
    SpamCheckResult out;
    std::string error;
    if (!paths.ensureFolders(&error)) return {SpamCheckResult::FileFailed, error, {}};

    std::optional<AnalyserLocation> analyser = locateAnalyser(paths);
    if (!analyser) {
        out.status = SpamCheckResult::NotInstalled;
        out.message = std::string(kMsgCannotStartChecker) +
                      ": SpamAssassin is not installed. Install it with \"apt-get install "
                      "spamassassin\", or put it in " +
                      paths.programFolder() + "/spamassassin.";
        return out;
    }
    const std::string prefs = prefsFilePath(paths);
    if (!ensurePrefsFile(prefs, &error))
        return {SpamCheckResult::FileFailed, "Can't write " + prefs + ": " + error, {}};
    CheckFolder folder(paths);
    if (folder.path().empty())
        return {SpamCheckResult::FileFailed,
                "Can't make a folder in " + paths.dataRoot() + ": " + folder.error(),
                {}};
    const std::string messageFile = folder.path() + "/Message.txt";
    if (!writeFileAtomic(messageFile, spamCheckMessageText(m, setup.sources), &error,
                         {0600, false}))
        return {SpamCheckResult::FileFailed, "Can't write " + messageFile + ": " + error, {}};

    ProcessSpec spec;
    spec.argv = {analyser->program, "-L", "--prefs-file=" + prefs, messageFile};
    spec.stdoutPath = folder.path() + "/output.txt";
    spec.stderrPath = folder.path() + "/analyser_errors.txt";
    spec.environment = setup.environment;
    spec.limit = setup.limit;
    ProcessOutcome run = runProcess(spec, cancel);
    switch (run.kind) {
        case ProcessOutcome::CannotStart:
            return {SpamCheckResult::CannotStart,
                    std::string(kMsgCannotStartChecker) + " (" + run.error + ")",
                    {}};
        case ProcessOutcome::Cancelled:
            return {SpamCheckResult::Cancelled, {}, {}};
        case ProcessOutcome::TimedOut:
            return {SpamCheckResult::TimedOut,
                    "The spam checker gave no answer within " + seconds(setup.limit) +
                        " seconds and was stopped.",
                    {}};
        case ProcessOutcome::Exited:
            break;
    }
    std::string output;
    readFile(spec.stdoutPath, output, nullptr, kOutputReadLimit);
    if (run.exitCode != 0 && trimWhite(output).empty()) {
        std::string errors;
        readFile(spec.stderrPath, errors, nullptr, 1 << 16);
        std::string detail = firstLine(errors);
        return {SpamCheckResult::AnalyserFailed,
                "The spam checker failed (exit status " + std::to_string(run.exitCode) + ")" +
                    (detail.empty() ? std::string(".") : ": " + detail),
                {}};
    }
    out.report = parseAnalyserOutput(output);
    return out;
}

}  // namespace qm
