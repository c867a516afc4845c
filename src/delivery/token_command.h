// The access token of an OAuth 2 relay login, from a command the user names ("Token command"),
// as other Linux mail programs get it: a provider's helper prints a fresh token on its output.
//
// Entry points: splitCommandLine() turns the stored text into an argument vector; fetchToken()
// runs it and returns the token.
//   - The command runs without a shell: the program (found on PATH unless it holds a "/") and
//     its arguments, split at blanks; "..." and '...' keep blanks inside an argument and a
//     backslash keeps the next character. Its input is /dev/null; its error output is dropped.
//   - It runs in a process group of its own; at the time limit the whole group is killed, so a
//     helper that waits for a browser or a password prompt cannot hold a run.
//   - The token is the first line of its output without surrounding blanks; it must be printable
//     ASCII without blanks, as a bearer token is (RFC 6750).
//
// Failure: a text for the user, always naming the command, never quoting its output (which may
// hold a secret): not startable, no token in time, a non-zero exit, no output, too much output,
// or output that is no token.
// Limits: at most kMaxTokenOutput bytes are read; the time limit is the caller's.
// Threads: any; the calling thread waits, polling the output pipe only.
// Standard: RFC 6750 (bearer tokens).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kMaxTokenOutput = 64 * 1024;
inline constexpr std::chrono::seconds kTokenCommandLimit{30};

// nullopt with the reason when the text is empty or a quote is left open.
std::optional<std::vector<std::string>> splitCommandLine(std::string_view text,
                                                         std::string* error = nullptr);

struct TokenResult {
    bool ok = false;
    std::string token;  // the caller wipes it when done (common/text.h wipeSecret)
    std::string error;
};

TokenResult fetchToken(std::string_view commandLine,
                       std::chrono::milliseconds limit = kTokenCommandLimit);

}  // namespace qm
