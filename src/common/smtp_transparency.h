// The SMTP DATA transparency step (RFC 5321, section 4.5.2) and line-end repair.
//
// Every bare CR and every bare LF becomes CR LF (bare line ends are what SMTP smuggling rides on),
// then every line that begins with "." gets one more "." in front, the first line included. The
// header block and the body pass through it alike; the final "\r\n.\r\n" is the SMTP client's.
//
// SmtpTransparency is fed pieces of any size and gives the same bytes as one call over the whole
// text; finish() flushes a CR held at the end of the last piece. normaliseLineEnds() is the first
// half alone, used by the MIME builder before it measures lines. Nothing fails; linear.
#pragma once

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

}  // namespace qm
