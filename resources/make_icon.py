#!/usr/bin/env python3
"""Draws the program's icon, an amber disc of 48 x 48 pixels, and its mask.

Writes pictures/168.png (the icon) and pictures/169.png (the mask: white
where the icon is opaque, black where it is transparent, grey on the
anti-aliased rim). Standard library only; the output is byte-for-byte
reproducible. Run from anywhere: python3 resources/make_icon.py
"""
import math
import os
import struct
import zlib

SIZE = 48
CENTRE = (SIZE - 1) / 2.0
RADIUS = 22.5
SUPERSAMPLES = 4

# Amber, from the highlight to the shaded rim.
HIGHLIGHT = (255, 226, 140)
BODY = (255, 176, 0)
RIM = (178, 102, 0)


def png(width, height, rows):
    """An 8-bit RGB PNG of the given rows (each a list of (r, g, b))."""
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def coverage(x, y):
    """The share of pixel (x, y) that the disc covers."""
    inside = 0
    for sy in range(SUPERSAMPLES):
        for sx in range(SUPERSAMPLES):
            px = x + (sx + 0.5) / SUPERSAMPLES - 0.5
            py = y + (sy + 0.5) / SUPERSAMPLES - 0.5
            if math.hypot(px - CENTRE, py - CENTRE) <= RADIUS:
                inside += 1
    return inside / (SUPERSAMPLES * SUPERSAMPLES)


def shade(x, y):
    """The disc's colour: lit from the upper left, darker towards the rim."""
    light = math.hypot(x - (CENTRE - 7), y - (CENTRE - 7)) / (RADIUS + 7)
    colour = mix(HIGHLIGHT, BODY, min(1.0, light * 1.6))
    edge = math.hypot(x - CENTRE, y - CENTRE) / RADIUS
    if edge > 0.8:
        colour = mix(colour, RIM, min(1.0, (edge - 0.8) / 0.2))
    return colour


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pictures")
    os.makedirs(folder, exist_ok=True)
    icon, mask = [], []
    for y in range(SIZE):
        icon_row, mask_row = [], []
        for x in range(SIZE):
            cover = coverage(x, y)
            # Outside the disc the icon is black, as the window behind it.
            icon_row.append(mix((0, 0, 0), shade(x, y), cover) if cover > 0 else (0, 0, 0))
            level = round(255 * cover)
            mask_row.append((level, level, level))
        icon.append(icon_row)
        mask.append(mask_row)
    with open(os.path.join(folder, "168.png"), "wb") as f:
        f.write(png(SIZE, SIZE, icon))
    with open(os.path.join(folder, "169.png"), "wb") as f:
        f.write(png(SIZE, SIZE, mask))


if __name__ == "__main__":
    main()
