#include "delivery/smtp_reply.h"

namespace qm {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string SmtpReply::text() const {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

void SmtpReplyReader::clear() {
    input_.clear();
    line_.clear();
    dropping_ = false;
    pending_ = SmtpReply{};
}

void SmtpReplyReader::feed(std::string_view bytes) {
    input_.append(bytes);
}

bool SmtpReplyReader::takeLine() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    std::string line = std::move(line_);
    line_.clear();
    dropping_ = false;

    bool threeDigits = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
    bool continued = threeDigits && line.size() > 3 && line[3] == '-';
    bool last = threeDigits && (line.size() == 3 || line[3] == ' ');
    int code = threeDigits ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : -1;

    if (pending_.lines.size() < kMaxLines) pending_.lines.push_back(std::move(line));
    if (continued) {
        // A continuation line must repeat the code of the first one.
        if (pending_.lines.size() == 1)
            pending_.code = code;
        else if (pending_.code != code)
            pending_.code = -1;
        return false;
    }
    if (!last) {
        pending_.code = -1;  // not three digits, or digits followed by something odd
        return true;
    }
    if (pending_.lines.size() == 1 || pending_.code == code)
        pending_.code = code;
    else
        pending_.code = -1;
    return true;
}

SmtpReplyReader::Status SmtpReplyReader::next(SmtpReply& out) {
    std::size_t pos = 0;
    while (pos < input_.size()) {
        std::size_t lf = input_.find('\n', pos);
        std::size_t end = lf == std::string::npos ? input_.size() : lf;
        if (!dropping_) {
            std::size_t room = kMaxLineLength - line_.size();
            std::size_t take = end - pos;
            if (take > room) {
                take = room;
                dropping_ = true;
            }
            line_.append(input_, pos, take);
        }
        if (lf == std::string::npos) {
            pos = input_.size();
            break;
        }
        pos = lf + 1;
        if (takeLine()) {
            input_.erase(0, pos);
            out = std::move(pending_);
            pending_ = SmtpReply{};
            return Status::Complete;
        }
    }
    input_.clear();
    return Status::NeedMore;
}

}  // namespace qm
