#include "groups/address_extraction.h"

#include <algorithm>
#include <unordered_set>

#include "common/file_util.h"
#include "common/text.h"
#include "groups/address.h"
#include "groups/spreadsheet_file.h"

namespace qm {

namespace {

class BoxText {
  public:
    explicit BoxText(std::string text) : text_(std::move(text)) {
        std::size_t start = 0;
        auto isSep = [](char c) {
            return c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
        };
        for (std::size_t i = 0; i <= text_.size(); ++i) {
            if (i == text_.size() || isSep(text_[i])) {
                if (i > start) held_.insert(text_.substr(start, i - start));
                start = i + 1;
            }
        }
    }
    // Appends `address` as the box rule says; true when it was new.
    bool add(std::string_view address) {
        if (!text_.empty()) {
            char last = text_.back();
            if (last != ';' && last != ' ' && last != ',') text_ += ';';
        }
        if (!held_.insert(std::string(address)).second) return false;
        text_.append(address);
        text_ += ';';
        return true;
    }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
    std::unordered_set<std::string> held_;
};

}  // namespace

std::optional<std::string> extractionRefusal(std::string_view boxText) {
    if (parseAddressList(boxText).addresses.size() >= kMaxTypedAddresses)
        return std::string(kMsgTooManyAddresses);
    return std::nullopt;
}

std::optional<std::string> checkSheetName(std::string_view typed, std::string& name) {
    name = trimWhite(typed);
    if (name.empty()) return std::string(kMsgEnterSheetName);
    if (name.find_first_of(kSheetNameForbidden) != std::string::npos)
        return "Invalid charaters(" + std::string(kSheetNameForbidden) + ") detected.";
    return std::nullopt;
}

bool needsSheetName(std::string_view path) {
    return sheetFormatOf(path) != SheetFormat::Text;
}

std::string defaultSheet(const std::vector<std::string>& names) {
    if (names.empty() || std::find(names.begin(), names.end(), "Sheet1") != names.end())
        return "Sheet1";
    return names.front();
}

ExtractionResult extractAddresses(const ExtractionRequest& request,
                                  const std::atomic<bool>& running,
                                  const std::function<void(std::size_t)>& progress) {
    ExtractionResult result;
    BoxText box(request.boxText);
    bool stopped = false;
    auto found = [&](std::string_view address) {
        ++result.found;
        if (box.add(address)) result.addresses.emplace_back(address);
        if (progress) progress(result.found);
    };

    const bool sheet = needsSheetName(request.path);
    if (sheet) {
        std::string name = request.sheet;
        if (sheet && name.empty()) {
            std::vector<std::string> names;
            std::string error;
            if (!sheetNames(request.path, names, &error)) {
                result.status = ExtractionStatus::Failed;
                result.boxText = request.boxText;
                result.message = error;
                return result;
            }
            name = defaultSheet(names);
        }
        SpreadsheetFile file;
        if (!file.open(request.path, name)) {
            result.status = ExtractionStatus::Failed;
            result.boxText = request.boxText;
            result.message = std::string(trimWhite(file.lastError()));
            return result;
        }
        std::vector<std::string> cells;
        for (std::size_t row = 1; row <= file.rowCount() && !stopped; ++row) {
            file.readRow(row, cells);
            for (std::string& cell : cells) {
                if (!running.load(std::memory_order_relaxed)) {
                    stopped = true;
                    break;
                }
                if (row == 1) std::replace(cell.begin(), cell.end(), '#', '.');
                if (isEmailAddress(cell)) found(cell);
            }
        }
    } else {
        std::string text, error;
        if (!readFile(request.path, text, &error)) {
            result.status = ExtractionStatus::Failed;
            result.boxText = request.boxText;
            result.message =
                std::string(kSheetErrorOpening.substr(0, kSheetErrorOpening.size() - 1)) + " (" +
                error + ")";
            return result;
        }
        if (text.size() > kExtractTextChars) text.resize(kExtractTextChars);
        for (const auto& a : findEmailAddresses(text)) {
            if (!running.load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            found(a);
        }
    }
    result.boxText = box.take();
    if (stopped) {
        result.status = ExtractionStatus::Stopped;
    } else if (result.found == 0) {
        result.status = ExtractionStatus::NothingFound;
        result.message = kMsgNothingExtracted;
    } else {
        result.status = ExtractionStatus::Found;
    }
    return result;
}

}  // namespace qm
