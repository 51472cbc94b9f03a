#!/usr/bin/env python3
"""Draws the extractor's artwork: the splash picture (240 x 166, 8 bits per pixel, with a
256-entry colour table, run-length coded) and the program icon (32 x 32 and 16 x 16, 8 bits
per pixel).

Everything is drawn here from geometry and a small built-in pixel font; nothing is read from
elsewhere. Shapes are rendered at four times the size and averaged down for smooth edges, then
mapped onto one fixed palette of colour ramps.

Usage: gen_extractor_art.py OUTPUT_FOLDER   (writes splash.bmp, splash.ck and spillet.ico there)

splash.ck is what the program carries: the bitmap of splash.bmp (without its file header) as
one MSZIP block, "CK" and a deflate stream, which the extractor's own decoder unpacks.
"""
import math
import os
import struct
import sys
import zlib

SS = 4  # supersampling factor

# ---- palette: ramps that the pictures use ---------------------------------------------------


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def ramp(a, b, n):
    return [lerp(a, b, i / (n - 1)) for i in range(n)]


NAVY, TEAL = (14, 30, 58), (28, 112, 134)
PALETTE = (
    ramp(NAVY, TEAL, 80)                              # background
    + ramp((70, 42, 6), (255, 214, 120), 48)          # gold (quill)
    + ramp((0, 0, 0), (255, 255, 255), 64)            # greys
    + ramp((120, 86, 52), (246, 228, 196), 40)        # parcel (cardboard)
    + ramp((150, 40, 30), (236, 112, 84), 16)         # ribbon red
    + ramp(TEAL, (120, 200, 210), 8)                  # highlights
)
assert len(PALETTE) == 256, len(PALETTE)


_nearest_cache = {}


def nearest(rgb):
    key = tuple(int(round(c)) for c in rgb)
    hit = _nearest_cache.get(key)
    if hit is None:
        r, g, b = key
        best, hit = 1 << 30, 0
        for i, (pr, pg, pb) in enumerate(PALETTE):
            d = (pr - r) ** 2 * 3 + (pg - g) ** 2 * 4 + (pb - b) ** 2 * 2
            if d < best:
                best, hit = d, i
        _nearest_cache[key] = hit
    return hit


# ---- a tiny canvas ---------------------------------------------------------------------------


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w * SS, h * SS
        self.px = [[list(fill) + [1.0] for _ in range(self.w)] for _ in range(self.h)]

    def blend(self, x, y, rgb, a=1.0):
        if 0 <= x < self.w and 0 <= y < self.h and a > 0:
            p = self.px[y]
            q = p[x]
            for i in range(3):
                q[i] = q[i] * (1 - a) + rgb[i] * a

    def shape(self, inside, rgb, box, alpha=1.0):
        """Fills every subpixel whose centre satisfies inside(x, y) (picture units)."""
        x0, y0, x1, y1 = (int(v * SS) for v in box)
        for sy in range(max(0, y0), min(self.h, y1 + 1)):
            fy = (sy + 0.5) / SS
            for sx in range(max(0, x0), min(self.w, x1 + 1)):
                fx = (sx + 0.5) / SS
                if inside(fx, fy):
                    col = rgb(fx, fy) if callable(rgb) else rgb
                    self.blend(sx, sy, col, alpha)

    def polygon(self, pts, rgb, alpha=1.0):
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]

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

        self.shape(inside, rgb, (min(xs) - 1, min(ys) - 1, max(xs) + 1, max(ys) + 1), alpha)

    def line(self, a, b, width, rgb, alpha=1.0):
        (ax, ay), (bx, by) = a, b
        dx, dy = bx - ax, by - ay
        ll = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
            px, py = ax + t * dx - x, ay + t * dy - y
            return px * px + py * py <= (width / 2) ** 2

        r = width
        self.shape(inside, rgb, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r,
                                 max(ay, by) + r), alpha)

    def down(self):
        """Averages the subpixels: rows of (r, g, b) at picture size."""
        out = []
        for y in range(self.h // SS):
            row = []
            for x in range(self.w // SS):
                acc = [0.0, 0.0, 0.0]
                for sy in range(y * SS, y * SS + SS):
                    for sx in range(x * SS, x * SS + SS):
                        q = self.px[sy][sx]
                        for i in range(3):
                            acc[i] += q[i]
                row.append(tuple(c / (SS * SS) for c in acc))
            out.append(row)
        return out


# ---- pixel font (5 x 7), only the letters the pictures need -----------------------------------

FONT = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "u": ["00000", "00000", "10001", "10001", "10001", "10011", "01101"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
    "b": ["10000", "10000", "10110", "11001", "10001", "10001", "11110"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "x": ["00000", "00000", "10001", "01010", "00100", "01010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "f": ["00110", "01001", "01000", "11100", "01000", "01000", "01000"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    "t": ["01000", "01000", "11100", "01000", "01000", "01001", "00110"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "c": ["00000", "00000", "01110", "10000", "10000", "10001", "01110"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "g": ["00000", "01111", "10001", "10001", "01111", "00001", "01110"],
    "p": ["00000", "00000", "11110", "10001", "11110", "10000", "10000"],
    "w": ["00000", "00000", "10001", "10001", "10101", "10101", "01010"],
    "y": ["00000", "00000", "10001", "10001", "01111", "00001", "01110"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    " ": ["00000"] * 7,
}


def text_width(s, scale):
    return (len(s) * 6 - 1) * scale


def draw_text(cv, s, x, y, scale, rgb, alpha=1.0):
    """Each lit font cell is a solid square."""
    r = scale * 0.5
    for n, ch in enumerate(s):
        rows = FONT[ch]
        for gy, bits in enumerate(rows):
            for gx, bit in enumerate(bits):
                if bit == "1":
                    cx = x + (n * 6 + gx) * scale + r
                    cy = y + gy * scale + r

                    def inside(px, py, cx=cx, cy=cy):
                        dx, dy = abs(px - cx), abs(py - cy)
                        return max(dx, dy) <= r

                    cv.shape(inside, rgb, (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1), alpha)


# ---- the emblem: a parcel tied with a ribbon and a quill laid across it ----------------------


def emblem(cv, ox, oy, s, detail=True):
    """Draws the emblem with its top-left at (ox, oy), s = size of its 64-unit square."""

    def P(x, y):
        return (ox + x * s / 64, oy + y * s / 64)

    card_top, card_left, card_right = (232, 206, 160), (196, 156, 104), (160, 118, 72)
    # an isometric box: top face, left face, right face
    top = [P(32, 10), P(58, 22), P(32, 34), P(6, 22)]
    left = [P(6, 22), P(32, 34), P(32, 60), P(6, 48)]
    right = [P(32, 34), P(58, 22), P(58, 48), P(32, 60)]
    if detail:
        cv.polygon([(x + s / 40, y + s / 30) for x, y in left + right[1:3]], (6, 14, 28), 0.35)
    cv.polygon(top, card_top)
    cv.polygon(left, card_left)
    cv.polygon(right, card_right)
    # ribbon across the faces
    red, dark_red = (214, 84, 62), (170, 52, 40)
    w = 3.2 * s / 64
    cv.line(P(19, 16), P(45, 28), w * 1.1, red)
    cv.line(P(45, 16), P(19, 28), w * 1.1, red)
    cv.line(P(19, 28), P(19, 54), w, dark_red)
    cv.line(P(45, 28), P(45, 54), w, dark_red)
    # edges
    edge = (96, 66, 36)
    ew = max(0.6, 1.0 * s / 64)
    for a, b in [(P(6, 22), P(32, 34)), (P(32, 34), P(58, 22)), (P(32, 34), P(32, 60))]:
        cv.line(a, b, ew, edge)
    # the quill: a feather vane around a spine, tip resting on the box's top
    gold, gold_dark, gold_light = (240, 188, 70), (176, 118, 24), (255, 228, 150)
    tip, end = P(24, 40), P(60, 0)
    tx, ty = tip
    ex, ey = end
    L = math.hypot(ex - tx, ey - ty)
    ux, uy = (ex - tx) / L, (ey - ty) / L
    nx, ny = -uy, ux

    def vane(t, side):
        # width along the spine: swelling after the nib, narrowing to the end
        wdt = math.sin(min(1.0, max(0.0, (t - 0.18) / 0.82)) * math.pi) ** 0.8 * 0.19 * L
        if side < 0:
            wdt *= 0.7
        return (tx + ux * t * L + nx * wdt * side, ty + uy * t * L + ny * wdt * side)

    steps = 24
    outline = [vane(i / steps, 1) for i in range(steps + 1)]
    outline += [vane(i / steps, -1) for i in range(steps, -1, -1)]

    def shade(x, y):
        t = ((x - tx) * ux + (y - ty) * uy) / L
        d = (x - tx) * nx + (y - ty) * ny
        k = max(0.0, min(1.0, 0.35 + t * 0.5 + (0.15 if d > 0 else -0.1)))
        return lerp(gold_dark, gold_light, k)

    cv.polygon(outline, shade)
    if detail:
        for i in range(5, 20, 3):
            t = i / 22
            a = vane(t, 0)
            b = vane(t + 0.08, 1)
            cv.line(a, b, 0.45 * s / 64, gold_dark, 0.6)
    cv.line(tip, end, max(0.7, 1.3 * s / 64), (250, 244, 228))
    cv.line(tip, vane(0.12, 0), max(0.8, 1.6 * s / 64), (40, 36, 40))


# ---- splash ----------------------------------------------------------------------------------


def splash():
    W, H = 240, 166
    cv = Canvas(W, H)
    for y in range(cv.h):
        for x in range(cv.w):
            fx, fy = x / cv.w, y / cv.h
            t = min(1.0, max(0.0, 0.15 + 0.55 * fx + 0.45 * (1 - fy) - 0.25))
            q = cv.px[y][x]
            q[0], q[1], q[2] = lerp(NAVY, TEAL, t)
    # soft light behind the emblem
    cx, cy = 120, 64

    def glow(x, y):
        return (x - cx) ** 2 + ((y - cy) * 1.2) ** 2 < 52 ** 2

    cv.shape(glow, (120, 200, 210), (cx - 60, cy - 60, cx + 60, cy + 60), 0.10)
    cv.shape(lambda x, y: (x - cx) ** 2 + ((y - cy) * 1.2) ** 2 < 38 ** 2,
             (120, 200, 210), (cx - 45, cy - 45, cx + 45, cy + 45), 0.08)
    emblem(cv, 120 - 42, 20, 84)
    title = "Quillbox"
    scale = 3
    tx = (W - text_width(title, scale)) // 2
    draw_text(cv, title, tx + 1, 114 + 2, scale, (6, 14, 28), 0.55)
    draw_text(cv, title, tx, 114, scale, (255, 250, 240))
    sub = "Self-extracting page"
    tx = (W - text_width(sub, 1)) / 2
    draw_text(cv, sub, tx, 145, 1, (200, 230, 234))
    # a thin frame
    for (a, b) in [((0.5, 0.5), (W - 0.5, 0.5)), ((W - 0.5, 0.5), (W - 0.5, H - 0.5)),
                   ((W - 0.5, H - 0.5), (0.5, H - 0.5)), ((0.5, H - 0.5), (0.5, 0.5))]:
        cv.line(a, b, 1.0, (120, 200, 210), 0.8)
    return cv.down()


def rle8_row(line):
    """The shortest BI_RLE8 coding of one row (without its end-of-line mark): a run costs two
    bytes, an absolute stretch of 3 to 255 pixels two bytes plus the pixels, padded to an even
    count."""
    w = len(line)
    INF = 1 << 30
    cost = [INF] * (w + 1)
    step = [None] * (w + 1)
    cost[w] = 0
    for i in range(w - 1, -1, -1):
        run = 1
        while i + run < w and run < 255 and line[i + run] == line[i]:
            run += 1
        for k in range(1, run + 1):
            c = 2 + cost[i + k]
            if c < cost[i]:
                cost[i], step[i] = c, ("run", k)
        for n in range(3, min(255, w - i) + 1):
            c = 2 + n + (n & 1) + cost[i + n]
            if c < cost[i]:
                cost[i], step[i] = c, ("abs", n)
    out = bytearray()
    i = 0
    while i < w:
        kind, n = step[i]
        if kind == "run":
            out += bytes((n, line[i]))
        else:
            out += bytes((0, n)) + bytes(line[i:i + n]) + bytes(n & 1)
        i += n
    return out


def bmp_bytes(rows):
    """An 8-bit BMP file, bottom-up, with the full colour table, its pixels run-length coded
    (BI_RLE8) so that GDI draws them as they lie in the resource."""
    h, w = len(rows), len(rows[0])
    pixels = bytearray()
    for n, row in enumerate(reversed(rows)):
        pixels += rle8_row([nearest(p) for p in row])
        pixels += b"\x00\x01" if n == h - 1 else b"\x00\x00"  # end of bitmap / of line
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 1, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + table + bytes(pixels)


def mszip_block(data):
    """data as one MSZIP block: "CK" and a raw deflate stream; the decoder takes at most
    32768 bytes per block."""
    assert len(data) <= 32768, "the splash must fit one MSZIP block"
    z = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    return b"CK" + z.compress(data) + z.flush()


# ---- icon ------------------------------------------------------------------------------------


def icon_image(size):
    """The emblem drawn twice, over black and over white: the difference gives each pixel's
    coverage, and the black version divided by it the pure colour."""
    detail = size >= 32
    on_black, on_white = Canvas(size, size, (0, 0, 0)), Canvas(size, size, (255, 255, 255))
    for cv in (on_black, on_white):
        emblem(cv, -size * 0.02, size * 0.02, size * 1.02, detail=detail)
    black, white = on_black.down(), on_white.down()
    rows, cover = [], []
    for rb, rw in zip(black, white):
        row, crow = [], []
        for b, w in zip(rb, rw):
            a = max(0.0, min(1.0, 1 - sum(wv - bv for wv, bv in zip(w, b)) / (3 * 255)))
            crow.append(a)
            row.append(tuple(min(255, v / a) for v in b) if a > 0 else (0, 0, 0))
        rows.append(row)
        cover.append(crow)
    return rows, cover


def ico_entry(rows, cover):
    size = len(rows)
    xor = bytearray()
    andm = bytearray()
    and_stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):
        for x in range(size):
            xor.append(nearest(rows[y][x]) if cover[y][x] >= 0.5 else 0)
        bits = bytearray(and_stride)
        for x in range(size):
            if cover[y][x] < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(andm), 0, 0,
                       256, 0)
    return info + table + bytes(xor) + bytes(andm)


def ico_bytes(images):
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    dirs, blobs = b"", b""
    for size, blob in images:
        dirs += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return head + dirs + blobs


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    bmp = bmp_bytes(splash())
    with open(os.path.join(out, "splash.bmp"), "wb") as f:
        f.write(bmp)
    with open(os.path.join(out, "splash.ck"), "wb") as f:
        f.write(mszip_block(bmp[14:]))
    images = []
    for size in (32, 16):
        rows, cover = icon_image(size)
        images.append((size, ico_entry(rows, cover)))
    with open(os.path.join(out, "spillet.ico"), "wb") as f:
        f.write(ico_bytes(images))


if __name__ == "__main__":
    main()
