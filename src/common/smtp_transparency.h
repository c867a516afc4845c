// The SMTP DATA transparency step and line-end repair.
//
// Every bare CR and every bare LF becomes CR LF (bare line ends are what SMTP smuggling rides on),
// then every line that begins with "." gets one more "." in front, the first line included. The
// header block and the body pass through it alike; the final "\r\n.\r\n" is the SMTP client's.
//
// Entry points: SmtpTransparency is fed pieces of any size and gives the same bytes as one call
// over the whole text; finish() flushes a CR held at the end of the last piece.
// normaliseLineEnds() is the first half alone, used by the MIME builder before it measures lines;
// hasMailLines() tells whether a text already has the shape mail needs.
// Failure: none.
// Limits: linear; holds at most one byte between pieces.
// Threads: one SmtpTransparency per stream; the free functions are pure.
// Standard: RFC 5321, section 4.5.2.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

class SmtpTransparency {
  public:
    void feed(std::string_view piece, std::string& out);
    void finish(std::string& out);

  private:
    bool heldCr_ = false;
    bool lineStart_ = true;
};

std::string smtpTransparency(std::string_view text);
std::string normaliseLineEnds(std::string_view text);

// Octets a line of Internet mail may hold, CR LF not counted (RFC 5322, section 2.1.1).
inline constexpr std::size_t kMaxLineOctets = 998;
// True when every CR and LF of `text` is part of a CR LF pair and no line passes `maxOctets`.
bool hasMailLines(std::string_view text, std::size_t maxOctets = kMaxLineOctets);

}  // namespace qm
