#!/usr/bin/env python3
"""Draws the Lotrix icon (a page of concordance lines, three of them picked out) and writes
lotrix-16.png, lotrix-32.png, lotrix-48.png and lotrix.ico beside this script.

The .ico holds 32, 16 and 48 pixel images in 24-bit colour with a transparency mask, the form
that every Windows version reads. Run it again only to change the drawing; its output is kept
in the repository.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLE = 4

PAPER = (252, 250, 242)
EDGE = (70, 78, 92)
TEXT = (150, 158, 170)
PICKED = (222, 106, 32)
FOLD = (214, 218, 226)

# Text lines as (top, left, right) in units of the icon's size; the picked ones stand out.
LINES = [(0.22, 0.28, 0.74), (0.34, 0.28, 0.70), (0.46, 0.28, 0.74),
         (0.58, 0.28, 0.66), (0.70, 0.28, 0.74), (0.82, 0.28, 0.62)]
PICKED_LINES = {1, 3, 4}


def shade(x, y):
    """The colour at (x, y) in units of the icon's size, or None outside the drawing."""
    left, right, top, bottom = 0.14, 0.86, 0.04, 0.96
    if not (left <= x <= right and top <= y <= bottom):
        return None
    fold = 0.22
    if x - (right - fold) > y - top:  # the dog-eared corner is cut away
        return None
    if x - (right - fold) > y - top - 0.06:
        return EDGE
    if x > right - fold and y < top + fold:
        return FOLD
    if x < left + 0.05 or x > right - 0.05 or y < top + 0.05 or y > bottom - 0.05:
        return EDGE
    for index, (line_top, line_left, line_right) in enumerate(LINES):
        picked = index in PICKED_LINES
        height = 0.075 if picked else 0.05
        if line_top <= y <= line_top + height and line_left <= x <= line_right:
            return PICKED if picked else TEXT
    return PAPER


def render(size):
    """RGBA rows of the icon at `size` pixels, antialiased by supersampling."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    colour = shade((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if colour:
                        covered += 1
                        total = [t + c for t, c in zip(total, colour)]
            if covered:
                row.append(tuple(round(t / covered) for t in total) + (round(255 * covered / n / n),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico_image(rows):
    """A BITMAPINFOHEADER, 24-bit colour rows and a 1-bit mask, both bottom-up."""
    size = len(rows)
    colour_stride = (size * 3 + 3) // 4 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = b""
    mask = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) if a >= 128 else b"\0\0\0" for r, g, b, a in row)
        colour += line + b"\0" * (colour_stride - len(line))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for rows in images:
        image = ico_image(rows)
        size = len(rows)
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    images = {size: render(size) for size in (16, 32, 48)}
    for size, rows in images.items():
        with open(os.path.join(HERE, f"lotrix-{size}.png"), "wb") as out:
            out.write(png(rows))
    with open(os.path.join(HERE, "lotrix.ico"), "wb") as out:
        out.write(ico([images[32], images[16], images[48]]))


if __name__ == "__main__":
    main()
