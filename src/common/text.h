// Byte-level text helpers shared by every subsystem: trimming and ASCII case folding. They work on
// bytes, never on a locale, so a file made anywhere reads the same here.
//
// Entry points: trimWhite(), lowerAscii(), lineEndsToBlanks(), wipeSecret().
// Failure: none.
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Trims spaces, tabs, CR and LF at both ends.
std::string_view trimWhite(std::string_view s);
// ASCII letters lowered, every other byte kept: how addresses are compared ignoring letter case.
std::string lowerAscii(std::string_view s);
// Every CR and LF made a blank: a field of a line-based file cannot hold a line end.
std::string lineEndsToBlanks(std::string_view s);

// Overwrites a password's bytes (in a way the compiler may not drop) and empties the string.
void wipeSecret(std::string& s);

}  // namespace qm
