// Readable plain text of an HTML page: what a reader without HTML should see in the text/plain
// alternative instead of the page's source.
//
// Entry points: htmlToText().
//   - paragraphs, headings, lists, tables rows and other blocks start new lines; paragraphs,
//     headings and lists stand apart by one blank line, never more;
//   - <br> breaks the line; headings are underlined ("=" for h1, "-" for h2 to h6);
//   - list items get "* " or "N. " (an <ol start> is honoured), nested lists two blanks of indent
//     per level, wrapped lines of an item hang under its text;
//   - links read "text <url>"; a link whose text already is its address (with or without
//     "mailto:", "http://", "https://") reads as the text alone; "#..." and "javascript:" targets
//     are left out;
//   - character references are decoded: the common named ones (Latin-1 letters, quotes, dashes,
//     currency and the like) and every numeric one; an unknown name stays as written;
//   - script, style, title and head contents, comments and declarations are dropped; images too;
//   - white space collapses to one blank outside <pre>; <pre> keeps its lines as written, but
//     for runs of blank lines, which become one;
//   - lines are wrapped at blanks to at most `width` characters (code points, indent included);
//     a word longer than that stands alone on its line.
// The result has "\n" line ends, no trailing blanks on any line, and no blank lines at either end.
//
// Charset: the page is read as UTF-8 when it is valid UTF-8, else as Windows-1252 (as screens show
// stored text); the result is always UTF-8 (plain ASCII when the page is), so the builder's
// charset label for it (common/charset.h) is right.
//
// Failure: none; any bytes give some text. Unclosed tags, comments and raw-text elements end the
// page where they start.
// Limits: one pass, time and output linear in the input: indents stop growing after
// kMaxListIndentLevels levels, at most one blank line stands between blocks, and every line the
// renderer adds carries text of the page.
// Threads: a pure function.
// Standard: the HTML tokenising rules of WHATWG HTML, simplified (no tree building); character
// references as HTML defines them (numeric 0x80-0x9F read as Windows-1252).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::size_t kReadableTextWidth = 78;
inline constexpr int kMaxListIndentLevels = 8;

std::string htmlToText(std::string_view html, std::size_t width = kReadableTextWidth);

}  // namespace qm
