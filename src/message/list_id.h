// The List-Id header field of a group run: which list a copy came from, so that receivers and
// their filters can tell one group's mail from another's and from the sender's own letters.
//
// Entry points: listIdSlug() for the stable label of a group; listIdHeader() for the whole line.
//   List-Id: "<group name>" <<slug>.<sender domain>>
// The slug keeps the group's ASCII letters and digits (lower-cased) with every other run of
// characters as one "-". When that loses anything but case and single blanks (another character,
// a "-", a letter outside ASCII, or length), eight hex digits of a hash of the
// whole name (ASCII letters in lower case: names are unique without regard to case) follow,
// so two groups whose names differ only in such characters still get two identifiers, and a name
// of nothing but non-ASCII letters still gets one. The same name always gives the same slug.
//
// Failure: none. No List-Id (an empty result) when the sender address has no domain.
// Limits: the slug is at most 63 characters (one DNS label); the phrase is the group name
// quoted when it is printable ASCII and the line fits 78 characters, else RFC 2047 words folded
// as the From field's display name is; the line never holds a CR or LF from the name.
// Threads: pure functions.
// Standard: RFC 2919 (List-Id), RFC 5322 (phrase, quoted-string), RFC 2047 (encoded words).
#pragma once

#include <string>
#include <string_view>

namespace qm {

inline constexpr std::size_t kMaxListIdSlug = 63;

std::string listIdSlug(std::string_view group);

// The header line without its final CR LF (continuations joined by CR LF + blank); empty when
// `senderAddress` has no domain.
std::string listIdHeader(std::string_view group, std::string_view senderAddress);

}  // namespace qm
