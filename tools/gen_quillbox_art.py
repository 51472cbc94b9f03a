#!/usr/bin/env python3
"""Draws the packager's pictures: the main window's background (528 x 348), the five
button faces, the banner strip, the About picture, the program icon and the pointing-hand
cursor. Every picture is an 8-bit bitmap with its own 256-entry palette.

Everything is drawn here from rectangles, circles, a feather outline and a built-in 5 x 7
pixel font; nothing is read from elsewhere. Edges are sampled 3 x 3 per pixel and the
result is reduced to 256 colours by popularity over 5-bit channels.

Usage: gen_quillbox_art.py OUTPUT_FOLDER
"""
import math
import os
import struct
import sys

FONT_ROWS = """
A .###. #...# #...# ##### #...# #...# #...#
B ####. #...# #...# ####. #...# #...# ####.
C .###. #...# #.... #.... #.... #...# .###.
D ####. #...# #...# #...# #...# #...# ####.
E ##### #.... #.... ####. #.... #.... #####
F ##### #.... #.... ####. #.... #.... #....
G .###. #...# #.... #.### #...# #...# .####
H #...# #...# #...# ##### #...# #...# #...#
I .###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.
J ..### ...#. ...#. ...#. ...#. #..#. .##..
K #...# #..#. #.#.. ##... #.#.. #..#. #...#
L #.... #.... #.... #.... #.... #.... #####
M #...# ##.## #.#.# #.#.# #...# #...# #...#
N #...# ##..# #.#.# #..## #...# #...# #...#
O .###. #...# #...# #...# #...# #...# .###.
P ####. #...# #...# ####. #.... #.... #....
Q .###. #...# #...# #...# #.#.# #..#. .##.#
R ####. #...# #...# ####. #.#.. #..#. #...#
S .#### #.... #.... .###. ....# ....# ####.
T ##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..
U #...# #...# #...# #...# #...# #...# .###.
V #...# #...# #...# #...# #...# .#.#. ..#..
W #...# #...# #...# #.#.# #.#.# #.#.# .#.#.
X #...# #...# .#.#. ..#.. .#.#. #...# #...#
Y #...# #...# .#.#. ..#.. ..#.. ..#.. ..#..
Z ##### ....# ...#. ..#.. .#... #.... #####
a ..... ..... .###. ....# .#### #...# .####
b #.... #.... #.##. ##..# #...# #...# ####.
c ..... ..... .###. #.... #.... #...# .###.
d ....# ....# .##.# #..## #...# #...# .####
e ..... ..... .###. #...# ##### #.... .###.
f ..##. .#..# .#... ###.. .#... .#... .#...
g ..... .#### #...# #...# .#### ....# .###.
h #.... #.... #.##. ##..# #...# #...# #...#
i ..#.. ..... .##.. ..#.. ..#.. ..#.. .###.
j ...#. ..... ..##. ...#. ...#. #..#. .##..
k #.... #.... #..#. #.#.. ##... #.#.. #..#.
l .##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.
m ..... ..... ##.#. #.#.# #.#.# #...# #...#
n ..... ..... #.##. ##..# #...# #...# #...#
o ..... ..... .###. #...# #...# #...# .###.
p ..... ..... ####. #...# ####. #.... #....
q ..... ..... .##.# #..## .#### ....# ....#
r ..... ..... #.##. ##..# #.... #.... #....
s ..... ..... .###. #.... .###. ....# ####.
t .#... .#... ###.. .#... .#... .#..# ..##.
u ..... ..... #...# #...# #...# #..## .##.#
v ..... ..... #...# #...# #...# .#.#. ..#..
w ..... ..... #...# #...# #.#.# #.#.# .#.#.
x ..... ..... #...# .#.#. ..#.. .#.#. #...#
y ..... ..... #...# #...# .#### ....# .###.
z ..... ..... ##### ...#. ..#.. .#... #####
0 .###. #...# #..## #.#.# ##..# #...# .###.
1 ..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.
2 .###. #...# ....# ...#. ..#.. .#... #####
3 ####. ....# ....# .###. ....# ....# ####.
4 ...#. ..##. .#.#. #..#. ##### ...#. ...#.
5 ##### #.... ####. ....# ....# #...# .###.
6 ..##. .#... #.... ####. #...# #...# .###.
7 ##### ....# ...#. ..#.. .#... .#... .#...
8 .###. #...# #...# .###. #...# #...# .###.
9 .###. #...# #...# .#### ....# ...#. .##..
. ..... ..... ..... ..... ..... .##.. .##..
, ..... ..... ..... ..... .##.. ..#.. .#...
: ..... .##.. .##.. ..... .##.. .##.. .....
! ..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#..
( ...#. ..#.. .#... .#... .#... ..#.. ...#.
) .#... ..#.. ...#. ...#. ...#. ..#.. .#...
- ..... ..... ..... ##### ..... ..... .....
/ ....# ...#. ...#. ..#.. .#... .#... #....
' ..#.. ..#.. .#... ..... ..... ..... .....
& .##.. #..#. #.#.. .#... #.#.# #..#. .##.#
? .###. #...# ....# ...#. ..#.. ..... ..#..
"""

FONT = {}
for _line in FONT_ROWS.strip("\n").split("\n"):
    FONT[_line[0]] = _line[2:].split(" ")
FONT[" "] = ["....."] * 7

NAVY = (16, 34, 66)
DEEP = (10, 22, 44)
TEAL = (26, 110, 132)
GOLD = (247, 190, 70)
GOLD_DARK = (178, 112, 20)
CREAM = (250, 244, 228)
PAPER = (238, 235, 228)
INK = (24, 38, 62)
WHITE = (255, 255, 255)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[tuple(fill) for _ in range(w)] for _ in range(h)]

    def put(self, x, y, rgb, a=1.0):
        if 0 <= x < self.w and 0 <= y < self.h and a > 0:
            self.px[y][x] = mix(self.px[y][x], rgb, a)

    def gradient(self, box, top, bottom, horizontal=False):
        x0, y0, x1, y1 = box
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                t = (x - x0) / max(1, x1 - x0 - 1) if horizontal else (y - y0) / max(1, y1 - y0 - 1)
                self.px[y][x] = mix(top, bottom, t)

    def fill(self, inside, colour, box, alpha=1.0):
        """Fills where inside(x, y) holds; colour is an RGB or a function of (x, y)."""
        x0, y0, x1, y1 = (int(math.floor(v)) for v in box)
        for y in range(max(0, y0), min(self.h, y1 + 1)):
            for x in range(max(0, x0), min(self.w, x1 + 1)):
                hits = 0
                for sy in (0.17, 0.5, 0.83):
                    for sx in (0.17, 0.5, 0.83):
                        if inside(x + sx, y + sy):
                            hits += 1
                if hits:
                    c = colour(x, y) if callable(colour) else colour
                    self.put(x, y, c, alpha * hits / 9.0)

    def rounded(self, box, r, colour, alpha=1.0):
        x0, y0, x1, y1 = box

        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

        self.fill(inside, colour, box, alpha)

    def circle(self, cx, cy, r, colour, alpha=1.0):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour,
                  (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1), alpha)

    def polygon(self, pts, colour, alpha=1.0):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]

        def inside(x, y):
            c = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c

        self.fill(inside, colour, (min(xs), min(ys), max(xs), max(ys)), alpha)

    def rect(self, box, colour, alpha=1.0):
        x0, y0, x1, y1 = box
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.put(x, y, colour, alpha)

    def frame(self, box, colour, alpha=1.0):
        x0, y0, x1, y1 = box
        self.rect((x0, y0, x1, y0 + 1), colour, alpha)
        self.rect((x0, y1 - 1, x1, y1), colour, alpha)
        self.rect((x0, y0 + 1, x0 + 1, y1 - 1), colour, alpha)
        self.rect((x1 - 1, y0 + 1, x1, y1 - 1), colour, alpha)


def text_width(s, scale=1, bold=False):
    return len(s) * (6 + (1 if bold else 0)) * scale - scale


def draw_text(cv, s, x, y, colour, scale=1, bold=False, underline=None, alpha=1.0):
    """Draws s with its top-left corner at (x, y); underline is the index of a letter."""
    adv = (6 + (1 if bold else 0)) * scale
    for n, ch in enumerate(s):
        rows = FONT.get(ch, FONT["?"])
        for r, row in enumerate(rows):
            for c, bit in enumerate(row):
                if bit == "#":
                    for dx in range(scale + (scale if bold else 0)):
                        for dy in range(scale):
                            cv.put(x + n * adv + c * scale + dx, y + r * scale + dy, colour, alpha)
        if underline == n:
            cv.rect((x + n * adv, y + 8 * scale, x + n * adv + 5 * scale + (scale if bold else 0),
                     y + 8 * scale + max(1, scale // 2)), colour, alpha)


def text_centered(cv, s, cx, y, colour, scale=1, bold=False, underline=None, alpha=1.0):
    draw_text(cv, s, int(round(cx - text_width(s, scale, bold) / 2)), y, colour, scale, bold,
              underline, alpha)


def quill(cv, ox, oy, s, colour=GOLD, edge=GOLD_DARK):
    """A feather leaning right: vane outline, then the shaft, in units of s pixels."""
    vane = []
    for i in range(21):
        t = i / 20
        vane.append((ox + s * (2 + 6 * t + 1.6 * math.sin(t * math.pi)),
                     oy + s * (10 - 9.5 * t)))
    for i in range(21):
        t = 1 - i / 20
        vane.append((ox + s * (2 + 6 * t - 0.2 * math.sin(t * math.pi) + 1.8 * t),
                     oy + s * (10 - 9.5 * t + 1.2 * math.sin(t * math.pi))))
    cv.polygon(vane, lambda x, y: mix(colour, CREAM, 0.35 * ((x - ox) / (9 * s))))
    # Notches in the vane make it read as a feather.
    for k in range(3):
        t = 0.35 + 0.18 * k
        px, py = ox + s * (2 + 7.4 * t + 0.5), oy + s * (10 - 9.5 * t + 0.4)
        cv.polygon([(px, py), (px + s * 1.3, py + s * 0.2), (px + s * 1.1, py + s * 0.45)], edge, 0.9)
    shaft = [(ox + s * 0.4, oy + s * 11.6), (ox + s * 0.8, oy + s * 11.6),
             (ox + s * 8.2, oy + s * 0.7), (ox + s * 7.9, oy + s * 0.5)]
    cv.polygon(shaft, edge)


def button(w, h, label_lines, underline, face=TEAL, text=WHITE):
    """A rounded button face on the paper colour of the main window."""
    cv = Canvas(w, h, PAPER)
    cv.rounded((0.5, 1.5, w - 0.5, h - 0.5), 5, (150, 146, 138))  # soft drop shadow
    cv.rounded((0.5, 0.5, w - 1.0, h - 1.5), 5, mix(face, DEEP, 0.55))
    cv.rounded((1.5, 1.5, w - 2.0, h - 2.5), 4,
               lambda x, y: mix(mix(face, WHITE, 0.28), face, y / h))
    cv.rect((5, 2, w - 6, 3), WHITE, 0.25)
    lines = len(label_lines)
    y = (h - (lines * 7 + (lines - 1) * 2)) // 2 - (1 if lines == 1 else 0)
    for i, line in enumerate(label_lines):
        ul = underline if i == 0 else None
        text_centered(cv, line, w / 2 - 0.5, y + 1, mix(face, DEEP, 0.7), 1, True, ul, 0.6)
        text_centered(cv, line, w / 2 - 1, y, text, 1, True, ul)
        y += 9
    return cv


def zip_button():
    w = h = 78
    cv = Canvas(w, h, PAPER)
    # The corners show the band behind the button on the main window.
    for y in range(h):
        for x in range(w):
            cv.px[y][x] = band_colour(439 + x, 16 + y)
    cv.circle(39.5, 40.5, 37, DEEP, 0.45)
    cv.circle(39, 39, 37, GOLD_DARK)
    cv.circle(39, 39, 35, lambda x, y: mix((255, 226, 140), (222, 146, 30), (y - 4) / 70))
    cv.circle(39, 39, 27, lambda x, y: mix((230, 160, 40), (255, 222, 130), (y - 12) / 54))
    # A down arrow into a tray: the page goes into one file.
    cv.polygon([(33, 14), (45, 14), (45, 23), (51, 23), (39, 33), (27, 23), (33, 23)], NAVY, 0.9)
    text_centered(cv, "Zip", 39, 38, DEEP, 3, False, 0)
    return cv


def band_colour(x, y):
    t = y / 104
    base = mix(NAVY, TEAL, t * 0.9)
    sheen = max(0.0, 1 - abs((x - 1.4 * y) - 330) / 170)
    return mix(base, (60, 150, 170), 0.18 * sheen)


def background():
    w, h = 528, 348
    cv = Canvas(w, h, PAPER)
    for y in range(104):
        for x in range(w):
            cv.px[y][x] = band_colour(x, y)
    cv.rect((0, 104, w, 107), GOLD)
    cv.rect((0, 107, w, 108), GOLD_DARK)
    cv.gradient((0, 108, w, h), (244, 242, 236), (226, 222, 212))
    # Wordmark.
    quill(cv, 22, 26, 5.2)
    draw_text(cv, "Quillbox!", 76, 41, DEEP, 4, False, None, 0.5)
    draw_text(cv, "Quillbox!", 74, 39, WHITE, 4)
    draw_text(cv, "Lite  -  your web pages, to go", 76, 78, (190, 220, 228), 1, True)
    # The makers' logo: a link to their home page (left 249, top 0, right 373, bottom 30).
    cv.rounded((252, -6, 370, 27), 6, DEEP, 0.55)
    quill(cv, 258, 4, 1.7)
    draw_text(cv, "Tarnwick", 280, 8, GOLD, 1, True)
    draw_text(cv, "tarnwick.example", 280, 17, (170, 200, 210), 1)
    cv.frame((279, 25, 367, 26), GOLD, 0.0)
    # Well under the round Zip button.
    cv.circle(478.5, 56.5, 42, DEEP, 0.35)
    # Labels over the two boxes; the underlined letters are their keys (Alt+U, Alt+P).
    draw_text(cv, "Web page address (URL):", 28, 125, INK, 1, True, 18)
    draw_text(cv, "Save the program as:", 28, 181, INK, 1, True, 9)
    cv.rounded((23, 136, 333, 170), 4, WHITE, 0.45)
    cv.rounded((23, 191, 333, 220), 4, WHITE, 0.45)
    # Frame around the banner strip (50, 240, 479, 294).
    cv.rounded((44, 234, 485, 300), 5, (206, 200, 188))
    cv.rect((49, 239, 480, 295), (120, 114, 104))
    # Foot.
    cv.rect((22, 306, w - 22, 307), (200, 194, 182))
    draw_text(cv, "Copyright 2026 Tarnwick. All rights reserved.", 28, 324, (120, 116, 108))
    return cv


def banner():
    w, h = 429, 54
    cv = Canvas(w, h, CREAM)
    cv.gradient((0, 0, w, h), (255, 236, 176), (246, 196, 92), True)
    for k in range(6):
        cv.circle(360 + 16 * k, 10 + 7 * (k % 3), 26 - 3 * k, WHITE, 0.12)
    quill(cv, 10, 4, 3.8, NAVY, DEEP)
    draw_text(cv, "Quillbox! Pro", 58, 9, DEEP, 2, True)
    draw_text(cv, "whole sites, passwords, no footer", 58, 34, INK, 1, True)
    cv.rounded((326, 15, 414, 39), 6, NAVY)
    text_centered(cv, "Upgrade", 370, 23, WHITE, 1, True)
    cv.frame((0, 0, w, h), GOLD_DARK)
    return cv


def about():
    w, h = 411, 315
    cv = Canvas(w, h, NAVY)
    for y in range(h):
        for x in range(w):
            cv.px[y][x] = band_colour(x * 0.9, y * 0.33)
    cv.circle(300, 120, 120, (60, 150, 170), 0.12)
    cv.circle(330, 90, 70, (60, 150, 170), 0.10)
    quill(cv, 250, 40, 13)
    draw_text(cv, "Quillbox!", 30, 60, DEEP, 5, False, None, 0.5)
    draw_text(cv, "Quillbox!", 27, 57, WHITE, 5)
    draw_text(cv, "Lite edition", 31, 106, GOLD, 2, True)
    lines = ["Any web page, with its frames and",
             "pictures, packed into one program",
             "that anybody can run to read it",
             "offline."]
    for i, s in enumerate(lines):
        draw_text(cv, s, 31, 150 + 12 * i, (210, 230, 236), 1, True)
    cv.rect((31, 214, 380, 215), GOLD, 0.8)
    # No version in the picture: the About box's text line below it names the one
    # the program was built as, which a picture drawn once would not follow.
    draw_text(cv, "Made by Tarnwick", 31, 228, WHITE, 1, True)
    draw_text(cv, "www.tarnwick.example", 31, 242, GOLD, 1, True)
    draw_text(cv, "Copyright 2026 Tarnwick. All rights reserved.", 31, 290, (150, 180, 190))
    return cv


def icon_canvas(size):
    cv = Canvas(size, size, (0, 0, 0))
    alpha = [[0.0] * size for _ in range(size)]
    r = size * 0.2
    m = 0.5

    def inside(x, y):
        cx = min(max(x, m + r), size - m - r)
        cy = min(max(y, m + r), size - m - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    for y in range(size):
        for x in range(size):
            hits = sum(1 for sy in (0.25, 0.75) for sx in (0.25, 0.75) if inside(x + sx, y + sy))
            alpha[y][x] = hits / 4
            cv.px[y][x] = mix(TEAL, NAVY, y / size)
    quill(cv, size * 0.12, size * 0.05, size / 13.0)
    return cv, alpha


# ---- colour reduction and file formats -----------------------------------------------------


def reduce(cv):
    counts = {}
    for row in cv.px:
        for c in row:
            k = (int(c[0]) >> 3, int(c[1]) >> 3, int(c[2]) >> 3)
            counts[k] = counts.get(k, 0) + 1
    keys = sorted(counts, key=lambda k: -counts[k])[:256]
    palette = [(k[0] * 8 + 4 if k[0] < 31 else 255, k[1] * 8 + 4 if k[1] < 31 else 255,
                k[2] * 8 + 4 if k[2] < 31 else 255) for k in keys]
    while len(palette) < 256:
        palette.append((0, 0, 0))
    cache = {}
    rows = []
    for row in cv.px:
        out = []
        for c in row:
            k = (int(c[0]) >> 3, int(c[1]) >> 3, int(c[2]) >> 3)
            idx = cache.get(k)
            if idx is None:
                r, g, b = (int(v) for v in c)
                best = 1 << 30
                for i, (pr, pg, pb) in enumerate(palette[:len(keys)]):
                    d = (pr - r) ** 2 * 3 + (pg - g) ** 2 * 4 + (pb - b) ** 2 * 2
                    if d < best:
                        best, idx = d, i
                cache[k] = idx
            out.append(idx)
        rows.append(out)
    return palette, rows


def dib_bytes(palette, rows, mask_rows=None):
    """Header, 256-entry table and rows bottom-up; with mask_rows an icon image (AND mask)."""
    h, w = len(rows), len(rows[0])
    stride = (w + 3) & ~3
    pixels = b"".join(bytes(r) + b"\0" * (stride - w) for r in reversed(rows))
    height = h * 2 if mask_rows is not None else h
    mask = b""
    if mask_rows is not None:
        mstride = ((w + 31) // 32) * 4
        for r in reversed(mask_rows):
            bits = bytearray(mstride)
            for x, transparent in enumerate(r):
                if transparent:
                    bits[x >> 3] |= 0x80 >> (x & 7)
            mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, w, height, 1, 8, 0, len(pixels) + len(mask),
                         2835, 2835, 256, 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + table + pixels + mask


def write_bmp(path, cv):
    palette, rows = reduce(cv)
    dib = dib_bytes(palette, rows)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + 40 + 1024))
        f.write(dib)


def write_ico(path):
    images = []
    for size in (32, 16):
        cv, alpha = icon_canvas(size)
        for y in range(size):
            for x in range(size):
                if alpha[y][x] < 1:
                    cv.px[y][x] = mix((0, 0, 0), cv.px[y][x], alpha[y][x])
        palette, rows = reduce(cv)
        mask = [[alpha[y][x] < 0.5 for x in range(size)] for y in range(size)]
        images.append((size, dib_bytes(palette, rows, mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(d for _, d in images))


HAND = """
.....##.........................
....#..#........................
....#..#........................
....#..#........................
....#..#........................
....#..####.....................
....#..#..####..................
....#..#..#..###................
.##.#..#..#..#..#...............
#..##..#..#..#..#...............
#...#.........#..#..............
.#..#............#..............
..#..............#..............
..#..............#..............
...#.............#..............
...#............#...............
....#...........#...............
....#..........#................
.....#.........#................
.....##########.................
"""


def write_cur(path):
    """A pointing hand, 32 x 32, one bit per pixel; hot spot at the fingertip."""
    art = [line for line in HAND.strip("\n").split("\n")]
    size = 32
    grid = [[art[y][x] if y < len(art) and x < len(art[y]) else "." for x in range(size)]
            for y in range(size)]
    # Fill the inside of the outline (white) by flooding the outside from a corner.
    outside = [[False] * size for _ in range(size)]
    stack = [(size - 1, size - 1)]
    while stack:
        x, y = stack.pop()
        if 0 <= x < size and 0 <= y < size and not outside[y][x] and grid[y][x] != "#":
            outside[y][x] = True
            stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
    xor_rows, and_rows = [], []
    for y in range(size):
        xr, ar = bytearray(4), bytearray(4)
        for x in range(size):
            bit = 0x80 >> (x & 7)
            if grid[y][x] == "#":
                pass  # black: AND 0, XOR 0
            elif outside[y][x]:
                ar[x >> 3] |= bit  # transparent: AND 1, XOR 0
            else:
                xr[x >> 3] |= bit  # white: AND 0, XOR 1
        xor_rows.append(bytes(xr))
        and_rows.append(bytes(ar))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    table = struct.pack("BBBB", 0, 0, 0, 0) + struct.pack("BBBB", 255, 255, 255, 0)
    data = header + table + b"".join(reversed(xor_rows)) + b"".join(reversed(and_rows))
    out = struct.pack("<HHH", 0, 2, 1)
    out += struct.pack("<BBBBHHII", size, size, 0, 0, 5, 0, len(data), 6 + 16)
    with open(path, "wb") as f:
        f.write(out + data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "background.bmp"), background())
    write_bmp(os.path.join(out, "zip.bmp"), zip_button())
    write_bmp(os.path.join(out, "view.bmp"), button(138, 23, ["View URL in browser"], 0))
    write_bmp(os.path.join(out, "browse.bmp"), button(138, 23, ["Browse..."], 0))
    write_bmp(os.path.join(out, "about_button.bmp"), button(87, 23, ["About..."], 0))
    write_bmp(os.path.join(out, "close.bmp"), button(87, 23, ["Close"], 0))
    write_bmp(os.path.join(out, "banner.bmp"), banner())
    write_bmp(os.path.join(out, "about.bmp"), about())
    write_ico(os.path.join(out, "quillbox.ico"))
    write_cur(os.path.join(out, "hand.cur"))


if __name__ == "__main__":
    main()
