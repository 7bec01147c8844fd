#!/usr/bin/env python3
"""Writes small well-formed payloads into a folder as seeds for pack_payload_fuzz:
    make_pack_seeds.py OUT_DIR
The layout is the one src/pack/payload.h describes; without seeds the fuzzer seldom gets a
header whose lengths add up."""
import hashlib
import os
import struct
import sys


def payload(folder, entries):
    table = b"".join(struct.pack("<BBHQ", kind, 0, len(name), len(data)) + name
                     for kind, name, data in entries)
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
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
