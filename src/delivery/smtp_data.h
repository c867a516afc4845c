// SMTP transparency for the message body (RFC 5321 section 4.5.2): every LF that lacks its CR gets
// one, and every line that starts with "." gets one more "." in front, the body's first line
// included.
//
// Entry points: SmtpDataEncoder::feed() works on pieces of any size (the client streams a large
// body through it in chunks, so a sending thread never holds a second copy of it);
// encodeSmtpData() does a whole text at once. Both give the same bytes for any split.
// Never fails.
#pragma once

#include <string>
#include <string_view>

namespace qm {

class SmtpDataEncoder {
  public:
    // Appends the encoded form of `in` to `out`.
    void feed(std::string_view in, std::string& out);

  private:
    bool lineStart_ = true;
    bool lastWasCr_ = false;
};

std::string encodeSmtpData(std::string_view body);

}  // namespace qm
