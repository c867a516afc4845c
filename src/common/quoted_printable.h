// Quoted-printable (RFC 2045, section 6.7) for text bodies.
//
// Entry points: quotedPrintableEncode() treats CR LF as a hard line break and encodes everything
// else it must: "=", bytes outside 33-126, blanks and tabs at a line end, and a lone CR or LF.
// Lines are cut with soft breaks ("=" CR LF) so that no encoded line passes 76 characters, never
// inside an "=XX" triple. `alsoEncode` names further characters to write as "=XX" (the MIME
// builder passes "_" so a text can never spell its boundary). The result ends as the input does:
// with CR LF only if the input ended with one. isQuotedPrintableReady() tells whether a text
// already is valid quoted-printable as it stands (what the builder's simple "=" escape and blank
// wrap produce for plain ASCII text). quotedPrintableDecode() is lenient (a malformed "=" stays as
// it is) and is used by tests and by the builder to undo its own "=" escape.
// Failure: none.
// Limits: linear in the text.
// Threads: pure functions.
// Standard: RFC 2045, section 6.7.
#pragma once

#include <string>
#include <string_view>

namespace qm {

std::string quotedPrintableEncode(std::string_view text, std::string_view alsoEncode = {});
bool isQuotedPrintableReady(std::string_view text);
std::string quotedPrintableDecode(std::string_view text);

}  // namespace qm
