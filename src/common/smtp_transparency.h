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
// streamMessageData() is the whole DATA transfer over a body made of pieces.
// Limits: linear; holds at most one byte between pieces.
// Threads: one SmtpTransparency per stream; the free functions are pure.
// Standard: RFC 5321, section 4.5.2.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class SmtpTransparency {
  public:
    void feed(std::string_view piece, std::string& out);
    // Appends a piece known to need no change (see DataPiece::wireReady) without looking at it.
    void passThrough(std::string_view piece, std::string& out);
    void finish(std::string& out);

  private:
    bool heldCr_ = false;
    bool lineStart_ = true;
};

std::string smtpTransparency(std::string_view text);

// What follows DATA for one message: the header block as built, the body's pieces through one
// transparency step (a line end or a leading dot split between two pieces is treated as if the
// pieces were one text), then "\r\n.\r\n". Handed to `write` in blocks of about `block` bytes:
// the header block travels with the body's first block, the end-of-data line with its last, so
// a small message is one write and a large one never needs a second copy of itself. Stops at the
// first false from `write` and returns false then.
struct DataPiece {
    std::string_view text;
    // The maker of the text vouches that the step would not change it: CR and LF only as CR LF,
    // and no line of it, its first included, begins with "." (base64 lines, or text a builder
    // already scanned). It is then copied as it stands.
    bool wireReady = false;
};
bool streamMessageData(std::string_view headerBlock, const std::vector<DataPiece>& pieces,
                       std::size_t block, const std::function<bool(std::string_view)>& write);
std::string normaliseLineEnds(std::string_view text);

// Octets a line of Internet mail may hold, CR LF not counted (RFC 5322, section 2.1.1).
inline constexpr std::size_t kMaxLineOctets = 998;
// True when every CR and LF of `text` is part of a CR LF pair and no line passes `maxOctets`.
bool hasMailLines(std::string_view text, std::size_t maxOctets = kMaxLineOctets);

}  // namespace qm
