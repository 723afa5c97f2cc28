#!/usr/bin/env python3
"""Draws the program's desktop icon, the card face logo's motifs on a square, in the sizes a
desktop's menus, task bars and launchers ask for: hicolor/NxN/apps/tolvaren-diagnostics.png.

Plain Python (zlib only), supersampled for smooth edges: python3 app/icons/make_icon.py
"""
import math
import os
import struct
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
NAME = "tolvaren-diagnostics.png"

NAVY = (31, 58, 104)
WHITE = (255, 255, 255)
AMBER = (245, 166, 35)


def inside_rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y, size):
    """Colour (r, g, b, a) of the point (x, y), both in 0..1 of the icon's side."""
    if not inside_rounded_rect(x, y, 0.03, 0.03, 0.97, 0.97, 0.18):
        return (0, 0, 0, 0)
    # Strokes never thinner than about 1.3 pixels, so that 16 px stays legible.
    half = max(0.035, 0.65 / size)
    # A "T" in the upper half.
    if 0.22 <= x <= 0.78 and 0.14 <= y <= 0.14 + 2.4 * half:
        return WHITE + (255,)
    if abs(x - 0.5) <= 1.3 * half and 0.14 <= y <= 0.58:
        return WHITE + (255,)
    # A signal trace along the bottom: a square pulse followed by a sine wave.
    if 0.12 <= x <= 0.88:
        t = (x - 0.12) / 0.76
        if t < 0.35:
            trace = 0.84 if t < 0.08 or t > 0.27 else 0.68
        else:
            trace = 0.76 - 0.08 * math.sin((t - 0.35) / 0.65 * 2 * math.pi * 1.5)
        if abs(y - trace) <= half:
            return AMBER + (255,)
        for edge in (0.12 + 0.08 * 0.76, 0.12 + 0.27 * 0.76):
            if abs(x - edge) <= half and 0.68 <= y <= 0.84:
                return AMBER + (255,)
    return NAVY + (255,)


def render(size, ss=4):
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(ss):
                for sx in range(ss):
                    r, g, b, a = colour_at((px + (sx + 0.5) / ss) / size,
                                           (py + (sy + 0.5) / ss) / size, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            if acc[3]:
                row += bytes(int(round(c / acc[3])) for c in acc[:3])
            else:
                row += bytes(3)
            row.append(int(round(acc[3] / (ss * ss))))
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for size in SIZES:
        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(render(size), 9))
        png += chunk(b"IEND", b"")
        folder = os.path.join(here, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, NAME), "wb") as f:
            f.write(png)


if __name__ == "__main__":
    main()
