#include "delivery/delivery_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "config/paths.h"
#include "groups/group_files.h"

namespace qm {

namespace {

constexpr std::string_view kSuffix = ".sbz";

std::string reportFileGroup(std::string_view group) {
    return group == kGeneralGroup ? std::string("1") : std::string(group);
}

}  // namespace

std::string formatReportLine(std::string_view address, std::string_view status) {
    // A server's reply may span lines; a line end in the report would make a row of its own.
    return lineEndsToBlanks(address) + ',' + lineEndsToBlanks(status) + "\r\n";
}

std::string reportPath(const Paths& paths, std::string_view group) {
    return paths.groupOutput() + "/_" + reportFileGroup(group) + std::string(kSuffix);
}

void appendReportLine(const Paths& paths, std::string_view group, std::string_view address,
                      std::string_view status) {
    makeFolders(paths.groupOutput());
    appendFile(reportPath(paths, group), formatReportLine(address, status));
}

void ReportAppender::append(const Paths& paths, std::string_view group, std::string_view address,
                            std::string_view status) {
    if (fd_ < 0 || group != group_) {
        close();
        makeFolders(paths.groupOutput());
        fd_ = ::open(reportPath(paths, group).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                     0644);
        if (fd_ < 0) return;  // a missing report line is not worth a message
        group_ = group;
    }
    std::string line = formatReportLine(address, status);
    for (std::size_t done = 0; done < line.size();) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void ReportAppender::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    group_.clear();
}

void deleteReports(const Paths& paths) {
    for (const auto& name : listFiles(paths.groupOutput(), kSuffix))
        removeFile(paths.groupOutput() + "/" + name);
}

std::vector<std::string> reportGroups(const Paths& paths) {
    std::vector<std::string> groups;
    for (const auto& name : listFiles(paths.groupOutput(), kSuffix)) {
        std::string title = name.substr(0, name.size() - kSuffix.size());
        if (!title.empty()) title.erase(0, 1);  // the leading underscore
        groups.push_back(title == "1" ? std::string(kGeneralGroup) : title);
    }
    return groups;
}

std::vector<ReportRow> parseReport(std::string_view content) {
    std::vector<ReportRow> rows;
    std::size_t pos = 0;
    for (;;) {
        std::size_t end = content.find("\r\n", pos);
        if (end == std::string_view::npos) break;
        std::string_view line = content.substr(pos, end - pos);
        std::size_t comma = line.find(',');
        if (comma == std::string_view::npos)
            rows.push_back({std::string(line), {}});
        else
            rows.push_back(
                {std::string(line.substr(0, comma)), std::string(line.substr(comma + 1))});
        pos = end + 2;
    }
    return rows;
}

std::vector<ReportRow> readReportRows(const Paths& paths, std::string_view group) {
    std::string content;
    if (!readFile(reportPath(paths, group), content)) return {};
    return parseReport(content);
}

std::string undeliveredListFileName(std::string_view chosen) {
    constexpr std::string_view kTxt = ".txt";
    if (chosen.size() >= kTxt.size() && chosen.substr(chosen.size() - kTxt.size()) == kTxt)
        chosen.remove_suffix(kTxt.size());
    return std::string(chosen) + std::string(kTxt);
}

bool saveUndeliveredList(const std::string& path, const std::vector<std::string>& addresses,
                         const std::vector<std::string>& reasons, std::string* message) {
    std::string text;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        text += addresses[i];
        text += ',';
        if (i < reasons.size()) text += reasons[i];
        text += "\r\n";
    }
    if (writeFileAtomic(path, text)) return true;
    if (message) *message = kMsgFailedToSave;
    return false;
}

}  // namespace qm
