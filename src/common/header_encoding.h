// Header field text for Internet mail: line-break stripping, RFC 2047 encoded words, folding, and
// MIME parameters (RFC 2045 tokens and quoted strings, RFC 2231 for the rest).
//
// Entry points build one whole header field without its final CR LF:
//   unstructuredHeader("Subject", text)      -> "Subject: ..."
//   mailboxHeader("From", {{name, address}}) -> "From: name<address>"
// and mimeParameter() the "; attribute=value" text that follows a Content-Type or
// Content-Disposition value.
//
// Contract: text that is printable ASCII and fits a 78-character line is written unchanged (the
// mailbox form keeps its "name<address>" shape with no blank); anything else is made safe: each run
// of CR/LF becomes one blank and NUL is dropped, words that are not printable ASCII (or hold "=?",
// or are too long to fold) become Q-encoded words of at most 75 characters with the charset of
// the whole text (see common/charset.h), and lines are folded at blanks so they stay within 78
// characters wherever a blank or an encoded word allows it. Nothing fails; output is linear in
// the input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kHeaderFoldWidth = 78;

// Each run of CR and LF becomes one blank; NUL bytes are dropped.
std::string headerSafe(std::string_view text);

std::string unstructuredHeader(std::string_view name, std::string_view value);

struct Mailbox {
    std::string_view displayName;
    std::string_view address;
};
// Mailboxes joined by ", ". An empty display name gives "<address>".
std::string mailboxHeader(std::string_view name, const std::vector<Mailbox>& mailboxes);

// "; attribute=value" to append to a header line that is `column` characters long so far; the
// column after it is stored back. The value is made header-safe first. Plain tokens stay as they
// are (the form the builder's fixed layout uses), other printable ASCII is quoted, and the rest
// is written in RFC 2231 form, split into numbered pieces on folded lines when long.
std::string mimeParameter(std::string_view attribute, std::string_view value, std::size_t& column);

}  // namespace qm
