#!/usr/bin/env python3
"""Draws the small logo shown in the card face's header (LogoInApp.png).

Plain Python (zlib only), supersampled for smooth edges, so that the picture can be redrawn on any
machine: python3 cardui/make_logo.py
"""
import math
import os
import struct
import zlib

W, H, SS = 64, 36, 4  # size in pixels, supersampling factor

NAVY = (31, 58, 104)
WHITE = (255, 255, 255)
AMBER = (245, 166, 35)


def inside_rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Colour (r, g, b, a) of the point (x, y) in logo pixel units."""
    if not inside_rounded_rect(x, y, 0.5, 0.5, W - 0.5, H - 0.5, 7):
        return (0, 0, 0, 0)
    # A "T" on the left: bar and stem.
    if 6 <= x <= 24 and 6 <= y <= 11:
        return WHITE + (255,)
    if 12.5 <= x <= 17.5 and 6 <= y <= 30:
        return WHITE + (255,)
    # A signal trace on the right: a square pulse followed by a sine wave.
    trace = None
    if 27 <= x <= 58:
        t = (x - 27) / 31.0
        if t < 0.35:
            trace = 24 if t < 0.1 or t > 0.27 else 11
        else:
            trace = 18 - 7 * math.sin((t - 0.35) / 0.65 * 2 * math.pi * 1.5)
    if trace is not None and abs(y - trace) <= 1.6:
        return AMBER + (255,)
    # Vertical edges of the square pulse.
    for edge in (27 + 0.1 * 31, 27 + 0.27 * 31):
        if abs(x - edge) <= 1.6 and 11 <= y <= 24:
            return AMBER + (255,)
    return NAVY + (255,)


def render():
    rows = []
    for py in range(H):
        row = bytearray([0])  # filter type: none
        for px in range(W):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = colour_at(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (SS * SS)
            if acc[3]:
                row += bytes(int(round(c / acc[3])) for c in acc[:3])
            else:
                row += bytes(3)
            row.append(int(round(alpha)))
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(render(), 9))
    png += chunk(b"IEND", b"")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "LogoInApp.png")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
