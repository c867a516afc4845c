#!/usr/bin/env python3
"""Fails when a source file includes a folder above its own layer.

Layer order (a folder includes only its own layer and the ones before it):
  common < config < groups < message < delivery < scheduler | subscriptions | spamcheck < app | setup
Folders of one layer do not include each other. Core folders include no screen code (no "*/ui/"
header, no Qt header); a "ui/" folder follows the order of its subsystem. cli/ and main/ are
programs on top of everything.

Usage: check_layers.py SRC_DIR
"""
import pathlib
import re
import sys

RANK = {
    "common": 0, "config": 1, "groups": 2, "message": 3, "delivery": 4,
    "scheduler": 5, "subscriptions": 5, "spamcheck": 5, "app": 6, "setup": 6,
}
PROGRAMS = {"cli", "main"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        parts = path.relative_to(src).parts
        owner = parts[0]
        if owner in PROGRAMS:
            continue
        if owner not in RANK:
            faults.append(f"{path}: folder '{owner}' has no place in the layer order")
            continue
        is_ui = len(parts) > 2 and parts[1] == "ui"
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            bracket, name = m.groups()
            where = f"{path}:{number}: {line.strip()}"
            if bracket == "<":
                if not is_ui and re.match(r"Q[A-Za-z]*(/|$)", name):
                    faults.append(f"{where}  (Qt in the core)")
                continue
            target = name.split("/")
            if len(target) < 2:
                continue
            folder = target[0]
            if folder in PROGRAMS:
                faults.append(f"{where}  (includes a program)")
            elif folder not in RANK:
                continue
            elif not is_ui and len(target) > 2 and target[1] == "ui":
                faults.append(f"{where}  (core includes a screen)")
            elif RANK[folder] > RANK[owner]:
                faults.append(f"{where}  ({folder} is above {owner})")
            elif RANK[folder] == RANK[owner] and folder != owner:
                faults.append(f"{where}  ({folder} and {owner} are one layer)")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
