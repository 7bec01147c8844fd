#!/usr/bin/env python3
"""Writes small PE images into a folder as seeds for pe_certificate_fuzz:
    make_pe_seeds.py OUT_DIR
Without them the fuzzer seldom gets past the MZ and PE signatures. Each seed is a minimal
PE32 or PE32+ image with one section; the signed ones end in a certificate table that holds
one entry: a DER SEQUENCE (standing in for the PKCS#7 blob) and zero padding to 8."""
import os
import struct
import sys

PE_OFFSET = 0x80
FILE_ALIGN = 0x200


def der_sequence(content_length):
    content = bytes((i * 7 + 1) & 0xFF for i in range(content_length))
    if content_length < 0x80:
        header = bytes([0x30, content_length])
    elif content_length < 0x100:
        header = bytes([0x30, 0x81, content_length])
    else:
        header = bytes([0x30, 0x82]) + struct.pack('>H', content_length)
    return header + content


def certificate_table(blob):
    used = 8 + len(blob)
    padded = (used + 7) & ~7
    return struct.pack('<IHH', used, 0x0200, 0x0002) + blob + bytes(padded - used)


def image(plus, blob=None, directories=16, section_size=FILE_ALIGN):
    optional_fixed = 112 if plus else 96
    optional_size = optional_fixed + 16 * 8  # room for 16 slots, whatever the count says
    headers = PE_OFFSET + 24 + optional_size + 40
    section_at = (headers + FILE_ALIGN - 1) // FILE_ALIGN * FILE_ALIGN
    data = bytearray(section_at + section_size)
    data[0:2] = b'MZ'
    struct.pack_into('<I', data, 0x3C, PE_OFFSET)
    data[PE_OFFSET:PE_OFFSET + 4] = b'PE\0\0'
    machine = 0x8664 if plus else 0x14C
    struct.pack_into('<HHIIIHH', data, PE_OFFSET + 4, machine, 1, 0, 0, 0, optional_size,
                     0x0102)
    optional = PE_OFFSET + 24
    struct.pack_into('<H', data, optional, 0x20B if plus else 0x10B)
    struct.pack_into('<I', data, optional + optional_fixed - 4, directories)
    section = optional + optional_size
    struct.pack_into('<8sIIIIIIHHI', data, section, b'.text', section_size, 0x1000, section_size,
                     section_at, 0, 0, 0, 0, 0x60000020)
    data[section_at:section_at + 4] = b'\xC3\x90\x90\x90'
    if blob is not None and directories > 4:
        table = certificate_table(blob)
        struct.pack_into('<II', data, optional + optional_fixed + 4 * 8, len(data), len(table))
        data += table
    return bytes(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {
        'pe32-signed': image(False, der_sequence(600)),
        'pe32-signed-short-der': image(False, der_sequence(40)),
        'pe32-signed-one-byte-der': image(False, der_sequence(200)),
        'pe32plus-signed': image(True, der_sequence(600)),
        # The table past the first 4096 bytes, which is all the header reader looks at.
        'pe32-signed-large': image(False, der_sequence(600), section_size=8 * FILE_ALIGN),
        'pe32-unsigned': image(False),
        'pe32plus-unsigned': image(True),
        'pe32-four-directories': image(False, der_sequence(40), directories=4),  # unsigned
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
