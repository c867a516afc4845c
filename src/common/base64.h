// Base64 (RFC 4648 alphabet, "=" padding).
//
// Entry points: base64Encode() writes one unbroken line: the SMTP client uses it for AUTH LOGIN.
// The MIME builder uses the line form (76 characters, each line ending CR LF), either in one call
// (appendBase64Lines) or fed piece by piece through Base64LineEncoder, which gives the same bytes
// however the input is cut, so a file can be encoded while it is read in blocks.
// Failure: none.
// Limits: output sizes are exact and reserved up front. The inner loop turns 12 input bits into
// two output characters through one table look-up, which is what makes it faster than OpenSSL's
// EVP_EncodeBlock (see bench/micro_message.cpp).
// Threads: pure functions; one Base64LineEncoder per stream.
// Standard: RFC 4648 (alphabet), RFC 2045 (line form).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

std::string base64Encode(std::string_view bytes);

// Input bytes per full MIME base64 line (57 bytes -> 76 characters).
inline constexpr std::size_t kBase64LineBytes = 57;

// Appends the line form of `bytes` to `out`: 76-character lines, every line (the last, shorter one
// included) ending in CR LF. Nothing is appended for empty input.
void appendBase64Lines(std::string_view bytes, std::string& out);

// Exact size appendBase64Lines() appends for `n` input bytes.
std::size_t base64LinesSize(std::size_t n);

class Base64LineEncoder {
  public:
    explicit Base64LineEncoder(std::string& out) : out_(out) {}
    void feed(std::string_view bytes);
    // Writes the held bytes as the last line; the encoder can then be fed again as new.
    void finish();

  private:
    std::string& out_;
    unsigned char held_[kBase64LineBytes];
    std::size_t heldCount_ = 0;
};

}  // namespace qm
