#!/usr/bin/env python3
"""Draws the pictures of the bundled example site (examples/site/pics).

Plain PNG writer over zlib: every picture is computed here, pixel by pixel,
so the example site carries no artwork from elsewhere.
"""
import math
import os
import struct
import sys
import zlib


def png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def banner(x, y):
    # Deep blue to teal, with a quill-like diagonal stroke.
    c = mix((18, 40, 92), (20, 140, 150), x / 479)
    d = abs((x - 40) - (y * 2.2))
    if d < 6 and 10 < y < 70:
        c = mix(c, (250, 240, 210), 1 - d / 6)
    return c


def logo(x, y):
    cx, cy, r = 31.5, 31.5, 28
    d = math.hypot(x - cx, y - cy)
    if d > r + 1:
        return (255, 255, 255)
    ring = (200, 90, 30) if d > r - 5 else (250, 210, 120)
    if d > r:
        return mix(ring, (255, 255, 255), d - r)
    # A box drawn inside the circle.
    if 20 <= x <= 43 and 24 <= y <= 42 and (x in (20, 43) or y in (24, 42) or y == 30):
        return (90, 50, 20)
    return ring


def tile(x, y):
    v = 246 if (x // 8 + y // 8) % 2 else 238
    return (v, v, min(255, v + 6))


def chart(x, y):
    bars = [30, 55, 42, 70, 64, 88]
    col = x // 30
    if col < len(bars) and x % 30 < 22 and 100 - y < bars[col]:
        return mix((40, 120, 200), (40, 180, 110), col / 5)
    return (255, 255, 255)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "examples", "site", "pics")
    os.makedirs(out, exist_ok=True)
    png(os.path.join(out, "banner.png"), 480, 80, banner)
    png(os.path.join(out, "logo.png"), 64, 64, logo)
    png(os.path.join(out, "tile.png"), 16, 16, tile)
    png(os.path.join(out, "chart.png"), 180, 100, chart)


if __name__ == "__main__":
    main()
