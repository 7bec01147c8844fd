#!/usr/bin/env python3
"""Writes small well-formed payloads into a folder as seeds for pack_payload_fuzz:
    make_pack_seeds.py OUT_DIR
The layout is the one src/pack/payload.h describes; without seeds the fuzzer seldom gets a
header whose lengths add up."""
import hashlib
import os
import struct
import sys


def payload(folder, entries, sizes=None):
    """`sizes` overrides the size written for each entry (any 64-bit value), as the native
    tests' payload builder can."""
    sizes = sizes or [len(data) for _, _, data in entries]
    table = b"".join(struct.pack("<BBHQ", kind, 0, len(name), size) + name
                     for (kind, name, _), size in zip(entries, sizes))
    data = b"".join(d for _, _, d in entries)
    tail = struct.pack("<IIIIQ", len(folder), len(entries), len(table), 0, len(data))
    tail += folder + table + data
    return b"MVPK" + struct.pack("<I", 1) + hashlib.sha256(tail).digest() + tail


out = sys.argv[1]
os.makedirs(out, exist_ok=True)
seeds = {
    "empty": payload(b"KVNew", []),
    "one-file": payload(b"KVNew", [(2, b"KVWizard.exe", b"MZ")]),
    "tree": payload(b"KVNew", [(1, b"res", b""), (1, b"res/English", b""),
                               (2, b"res/English/ui.ini", b"[STARTUP]\r\n"), (2, b"zero", b""),
                               (2, "\u00f1and\u00fa.txt".encode(), b"x" * 100)]),
    # Crafted tables the native tests refuse, one step from being accepted.
    "wrapping-sizes": payload(b"KVNew", [(2, b"a", b"xy"), (2, b"b", b"")],
                              [2**64 - 1, 3]),
    "case-twins": payload(b"KVNew", [(2, b"a.txt", b"x"), (2, b"A.TXT", b"y")]),
    "short-alias": payload(b"KVNew", [(2, b"KVWizard.exe", b"x"), (2, b"KVWIZA~1.EXE", b"y")]),
    "parent-after": payload(b"KVNew", [(2, b"a/b.txt", b"x"), (1, b"a", b"")]),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
