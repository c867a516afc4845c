// Which charset label a piece of text honestly carries.
//
// Stored text is bytes: new text is UTF-8, text from older files is in a single-byte code page.
// Entry points: storedToUtf8() turns stored text into UTF-8 the way screens show it; charsetFor()
// reads valid UTF-8 holding non-ASCII as "utf-8"; any other 8-bit text as "windows-1252" when it
// uses the bytes 0x80-0x9F (printable there, control codes in Latin-1) and as "iso-8859-1"
// otherwise; pure ASCII as "us-ascii". Failure: none. Limits: linear in the text. Threads: pure
// functions. Standard: RFC 3629 (UTF-8 validity), the IANA charset names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

bool isAscii(std::string_view text);
bool isValidUtf8(std::string_view text);
std::string_view charsetFor(std::string_view text);
// Length of the valid UTF-8 sequence that starts `text` (1 for ASCII), or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view text);
// Characters as a user counts them: code points of valid UTF-8 text, bytes of anything else.
std::size_t userLength(std::string_view text);
// The first `n` characters, counted as userLength() counts them.
std::string firstChars(std::string_view text, std::size_t n);
// Stored text as UTF-8: valid UTF-8 as it is, anything else read as Windows-1252.
std::string storedToUtf8(std::string_view text);

}  // namespace qm
