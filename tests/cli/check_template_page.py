#!/usr/bin/env python3
"""Reads a generated template page with html.parser: tags must balance as far as HTML allows
(void elements need no end tag; an unclosed <p> or <li> may be closed by its parent's end tag),
and every <img> source must name a file under the page's Images folder.

Usage: check_template_page.py PAGE.htm   -- prints what is wrong and exits 1, else exits 0."""
import html.parser
import os
import sys

VOID = {"img", "br", "meta", "hr", "input", "link"}
# End tags HTML lets a parent's end tag (or a following block) imply.
OPTIONAL_END = {"p", "li"}


class Checker(html.parser.HTMLParser):
    def __init__(self, folder):
        super().__init__(convert_charrefs=True)
        self.folder = folder
        self.stack = []
        self.problems = []
        self.images = 0

    def handle_starttag(self, tag, attrs):
        if tag == "img":
            self.images += 1
            src = dict(attrs).get("src") or ""
            if not src.startswith("Images/"):
                self.problems.append("img outside Images: %r" % src)
            elif not os.path.isfile(os.path.join(self.folder, src)):
                self.problems.append("img missing: %s" % src)
        if tag not in VOID:
            self.stack.append((tag, self.getpos()))

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        while self.stack and self.stack[-1][0] != tag and self.stack[-1][0] in OPTIONAL_END:
            self.stack.pop()
        if not self.stack or self.stack[-1][0] != tag:
            self.problems.append("unexpected </%s> at %s, open: %s"
                                 % (tag, self.getpos(), [t for t, _ in self.stack[-4:]]))
            return
        self.stack.pop()


def main():
    page = sys.argv[1]
    with open(page, encoding="utf-8") as f:
        text = f.read()
    checker = Checker(os.path.dirname(os.path.abspath(page)))
    checker.feed(text)
    checker.close()
    left = [t for t, _ in checker.stack if t not in OPTIONAL_END]
    if left:
        checker.problems.append("never closed: %s" % left)
    if checker.images == 0:
        checker.problems.append("no picture at all")
    for p in checker.problems:
        print("%s: %s" % (page, p))
    return 1 if checker.problems else 0


if __name__ == "__main__":
    sys.exit(main())
