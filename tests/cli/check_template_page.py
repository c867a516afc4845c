#!/usr/bin/env python3
"""Reads a generated template page with html.parser: tags must balance as far as HTML allows
(void elements need no end tag; an unclosed <p> or <li> may be closed by its parent's end tag),
every <img> source must name a file under the page's Images folder, and every text colour
(<font color>, <body text>) reads at a contrast of at least 4.5:1 (WCAG AA) against the colour
declared behind it (the nearest bgcolor or style background-color, the page's white without one).

Usage: check_template_page.py PAGE.htm   -- prints what is wrong and exits 1, else exits 0."""
import html.parser
import os
import re
import sys

VOID = {"img", "br", "meta", "hr", "input", "link"}
# End tags HTML lets a parent's end tag (or a following block) imply.
OPTIONAL_END = {"p", "li"}
MIN_CONTRAST = 4.5


def luminance(color):
    channels = [int(color[i:i + 2], 16) / 255 for i in (1, 3, 5)]
    r, g, b = [c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


def style_background(style):
    found = re.search(r"background-color\s*:\s*(#[0-9A-Fa-f]{6})", style or "")
    return found.group(1) if found else None


class Checker(html.parser.HTMLParser):
    def __init__(self, folder):
        super().__init__(convert_charrefs=True)
        self.folder = folder
        self.stack = []
        self.problems = []
        self.images = 0

    def background(self):
        return self.stack[-1][2] if self.stack else "#FFFFFF"

    def check_colour(self, tag, color, background):
        if not re.fullmatch(r"#[0-9A-Fa-f]{6}", color or ""):
            self.problems.append("<%s> colour %r at %s" % (tag, color, self.getpos()))
        elif contrast(color, background) < MIN_CONTRAST:
            self.problems.append("%s on %s: contrast %.2f at %s"
                                 % (color, background, contrast(color, background), self.getpos()))

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        background = self.background()
        declared, styled = a.get("bgcolor"), style_background(a.get("style"))
        if declared and styled and declared.upper() != styled.upper():
            self.problems.append("<%s> bgcolor %s but style %s at %s"
                                 % (tag, declared, styled, self.getpos()))
        if declared or styled:
            background = declared or styled
        if tag == "font" and "color" in a:
            self.check_colour(tag, a["color"], background)
        if tag == "body" and "text" in a:
            self.check_colour(tag, a["text"], background)
        if tag == "img":
            self.images += 1
            src = dict(attrs).get("src") or ""
            if not src.startswith("Images/"):
                self.problems.append("img outside Images: %r" % src)
            elif not os.path.isfile(os.path.join(self.folder, src)):
                self.problems.append("img missing: %s" % src)
        if tag not in VOID:
            self.stack.append((tag, self.getpos(), background))

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        while self.stack and self.stack[-1][0] != tag and self.stack[-1][0] in OPTIONAL_END:
            self.stack.pop()
        if not self.stack or self.stack[-1][0] != tag:
            self.problems.append("unexpected </%s> at %s, open: %s"
                                 % (tag, self.getpos(), [t for t, _, _ in self.stack[-4:]]))
            return
        self.stack.pop()


def main():
    page = sys.argv[1]
    with open(page, encoding="utf-8") as f:
        text = f.read()
    checker = Checker(os.path.dirname(os.path.abspath(page)))
    checker.feed(text)
    checker.close()
    left = [t for t, _, _ in checker.stack if t not in OPTIONAL_END]
    if left:
        checker.problems.append("never closed: %s" % left)
    if checker.images == 0:
        checker.problems.append("no picture at all")
    for p in checker.problems:
        print("%s: %s" % (page, p))
    return 1 if checker.problems else 0


if __name__ == "__main__":
    sys.exit(main())
