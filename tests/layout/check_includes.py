#!/usr/bin/env python3
"""The house's arrows, checked: every #include "room/..." in src/ points down the list of rooms
(or stays in its own room), so no room includes one above it and no two rooms include each
other. Usage: check_includes.py SRC_DIR"""

import os
import re
import sys

# Bottom first. A room may include its own files and those of the rooms it lists.
ALLOWED = {
    "win": set(),
    "rules": set(),  # portable: its own files only
    "settings": {"rules", "win"},
    "sys": {"rules", "win"},
    "picture": {"rules", "win"},
    "update": {"settings", "sys", "rules", "win"},
    "ui": {"update", "settings", "picture", "rules", "win"},
    "app": {"ui", "update", "settings", "sys", "picture", "rules", "win"},
    # The publisher's tool: its check before publishing runs the product's own update check
    # and package check. Nothing of the product includes it.
    "pack": {"app", "update", "settings", "sys", "rules", "win"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')


def room_files(src):
    """Every .h and .cpp file of every room, as (room, path); the other layout checks use it."""
    for room in sorted(os.listdir(src)):
        folder = os.path.join(src, room)
        if not os.path.isdir(folder):
            continue
        for dirpath, _, files in os.walk(folder):
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    yield room, os.path.join(dirpath, name)


def report(found):
    for line in found:
        print(line)
    return 1 if found else 0


def violations(src):
    found = []
    for room, path in room_files(src):
        if room not in ALLOWED:
            found.append("%s/: a room the checker does not know; add it to ALLOWED" % room)
            continue
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if m and m.group(1) != room and m.group(1) not in ALLOWED[room]:
                    found.append("%s:%d: %s/ includes %s/" % (
                        os.path.relpath(path, src), number, room, m.group(1)))
    return sorted(set(found))


if __name__ == "__main__":
    sys.exit(report(violations(sys.argv[1])))
