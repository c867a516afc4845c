// Assembles SMTP server replies (RFC 5321 section 4.2) from the bytes as they arrive.
//
// Entry points: feed() takes received bytes in any split; next() hands out one complete reply once
// its last line ("ddd" followed by a blank or the line end) has arrived, and says NeedMore
// otherwise. A reply that arrives across several receives, or several replies in one receive, come
// out exactly as the server meant them.
//
// Failure contract: never throws, never grows without bound. A line is cut at kMaxLineLength bytes
// (the rest up to its line end is dropped), a reply keeps at most kMaxLines lines (further
// continuation lines are read and dropped). feed() keeps what it is given until next() has used
// it, so a caller that feeds one receive at a time, and only after NeedMore, holds at most one
// receive of unread bytes. A line that does not begin with three digits ends its reply with
// code -1 (malformed): the caller fails that stage instead of waiting for more. Lines end at LF;
// a CR before it is dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct SmtpReply {
    // 100..599 for a well-formed reply, -1 when a line did not start with three digits.
    int code = -1;
    // The lines without their line ends.
    std::vector<std::string> lines;

    bool wellFormed() const { return code >= 0; }
    std::string_view firstLine() const {
        return lines.empty() ? std::string_view{} : std::string_view{lines.front()};
    }
    // Every line, each followed by CR LF, as the server sent it (within the caps).
    std::string text() const;
};

class SmtpReplyReader {
  public:
    static constexpr std::size_t kMaxLineLength = 2048;
    static constexpr std::size_t kMaxLines = 256;

    enum class Status { Complete, NeedMore };

    void feed(std::string_view bytes);
    Status next(SmtpReply& out);
    // Bytes received but not yet part of a handed-out reply (STARTTLS must find none).
    bool hasPendingInput() const {
        return !input_.empty() || !line_.empty() || !pending_.lines.empty();
    }
    void clear();

  private:
    // Takes one finished line into the reply being assembled; true when it ends the reply.
    bool takeLine();

    std::string input_;      // fed bytes not yet scanned
    std::string line_;       // the current line so far, at most kMaxLineLength bytes
    bool dropping_ = false;  // the current line passed the cap; skip to its end
    SmtpReply pending_;
};

}  // namespace qm
