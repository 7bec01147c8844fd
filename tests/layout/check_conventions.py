#!/usr/bin/env python3
"""The conventions of CONTRIBUTING.md that a machine can hold, beyond the include arrows and
the format: every header and source file of a room declares its names in the room's namespace
(the entry points excepted), no header re-exports another room's name with `using`, and no
function hands back a reason string through a parameter. Usage: check_conventions.py SRC_DIR"""

import os
import re
import sys

from check_includes import report, room_files

# Files whose only names are the entry points the platform calls, which must be global.
ENTRY_POINTS = {"pack/pack_main.cpp", "pack/sfx_main.cpp"}
# `using other::Name;` or `using Name = other::Name;` at the start of a line in a header.
REEXPORT = re.compile(r"^using\s+(?:\w+\s*=\s*)?(\w+)::\w+\s*;", re.M)
# A std::string or std::wstring pointer parameter named for a reason.
REASON_OUT = re.compile(r"std::w?string\s*\*\s*(why|reason|error|message|detail)\b")


def violations(src):
    found = []
    for room, path in room_files(src):
        relative = os.path.relpath(path, src).replace(os.sep, "/")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if relative not in ENTRY_POINTS and not re.search(r"^namespace %s \{" % room, text, re.M):
            found.append("%s: declares nothing in namespace %s" % (relative, room))
        if path.endswith(".h"):
            for m in REEXPORT.finditer(text):
                if m.group(1) not in (room, "std"):
                    found.append("%s: re-exports a name of %s:: into %s::" % (
                        relative, m.group(1), room))
        for m in REASON_OUT.finditer(text):
            found.append("%s: a reason string as an out-parameter (%s); answer an enum" % (
                relative, m.group(0)))
    return found


if __name__ == "__main__":
    sys.exit(report(violations(sys.argv[1])))
