#!/usr/bin/env python3
"""Draws Morvane's icon and writes resources/morvane.ico.

32-bit images with alpha: 16 and 32 pixels as bitmaps, 48 and 256 pixels stored as PNG.
Morvane runs on Windows 7 and later, which read PNG images in icons and have no palette
displays, so the 16- and 256-colour images of older icons would only take room in the
executable. The artwork: a blue rounded tile
with a white arrow coming down onto a green tray -- "a newer version arrives".
Python standard library only; the output is the same byte for byte on every run.

    python3 scripts/make-icon.py [output.ico]
"""
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)
LARGE = 256
PNG_FROM = 48  # sizes from this up are stored as PNG
SUPERSAMPLE = 4

WHITE = (255, 255, 255)
TRAY = (110, 210, 120)
EDGE = (12, 40, 96)


def tile_colour(v):
    """Top-to-bottom gradient of the tile."""
    top, bottom = (52, 124, 214), (22, 66, 150)
    return tuple(round(a + (b - a) * v) for a, b in zip(top, bottom))


def inside_rounded_square(u, v, margin, radius):
    lo, hi = margin, 1.0 - margin
    if not (lo <= u <= hi and lo <= v <= hi):
        return False
    cu = min(max(u, lo + radius), hi - radius)
    cv = min(max(v, lo + radius), hi - radius)
    return (u - cu) ** 2 + (v - cv) ** 2 <= radius ** 2


def inside_arrow(u, v):
    if 0.42 <= u <= 0.58 and 0.18 <= v <= 0.50:
        return True
    # Head: apex at (0.5, 0.72), base from (0.24, 0.46) to (0.76, 0.46).
    if 0.46 <= v <= 0.72:
        half = 0.26 * (0.72 - v) / 0.26
        return abs(u - 0.5) <= half
    return False


def inside_tray(u, v):
    bar = 0.76 <= v <= 0.84 and 0.22 <= u <= 0.78
    sides = 0.64 <= v <= 0.84 and (0.22 <= u <= 0.30 or 0.70 <= u <= 0.78)
    return bar or sides


def sample(u, v):
    """Colour of one point of the artwork (None outside it), u and v from 0 to 1."""
    if not inside_rounded_square(u, v, 0.04, 0.20):
        return None
    if not inside_rounded_square(u, v, 0.075, 0.17):
        return EDGE
    if inside_arrow(u, v):
        return WHITE
    if inside_tray(u, v):
        return TRAY
    return tile_colour(v)


def render(size):
    """RGBA rows, top row first; anti-aliased by supersampling."""
    rows = []
    n = SUPERSAMPLE
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    if c is not None:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows



def padded(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask(rows):
    """1 bpp transparency mask, bottom row first: set bits are transparent."""
    out = b""
    for row in reversed(rows):
        bits = bytearray((len(row) + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += padded(bytes(bits))
    return out


def bitmap_header(size, bpp, colours, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0,
                       colours, 0)



def truecolour_image(rows):
    pixels = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows)
                      for r, g, b, a in row)
    mask = and_mask(rows)
    return bitmap_header(len(rows), 32, 0, len(pixels) + len(mask)) + pixels + mask


def png_image(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + \
        chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def build_icon():
    entries = []  # (size, colour count, bpp, data)
    for size in SIZES:
        rows = render(size)
        image = truecolour_image(rows) if size < PNG_FROM else png_image(rows)
        entries.append((size, 0, 32, image))
    entries.append((LARGE, 0, 32, png_image(render(LARGE))))

    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, count, bpp, data in entries:
        dim = 0 if size >= 256 else size  # 0 means 256 in an icon directory
        out += struct.pack("<BBBBHHII", dim, dim, count, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, _, data in entries)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources",
                                                                 "morvane.ico")
    with open(target, "wb") as f:
        f.write(build_icon())


if __name__ == "__main__":
    main()
