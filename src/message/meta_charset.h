// The charset an HTML page declares in its <meta> tags, made to agree with the charset of the part
// that carries it: a reader that takes the page's declaration over the part's (or keeps the page
// once saved) must decode the same bytes the same way.
//
// Entry points: withMetaCharset() rewrites the value of every charset declaration in a <meta> tag,
// <meta charset=...> and <meta http-equiv=Content-Type content="text/html; charset=...">, in any
// case of letters and quoting.
// Failure: none; it returns false, and leaves `out` alone, for a page without a declaration (a
// tag without an end counts as none).
// Limits: linear in the page.
// Threads: pure function.
// Standard: HTML (the meta charset declaration); "=3D" counts as "=", as text still in
// quoted-printable form writes it.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// True with the rewritten page in `out` when the page declares a charset.
bool withMetaCharset(std::string_view html, std::string_view charset, std::string& out);

}  // namespace qm
