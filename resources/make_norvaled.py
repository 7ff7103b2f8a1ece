#!/usr/bin/env python3
"""Draws the installer's bitmap "norvaled": a help book with a question mark, as a
256-colour (8 bits per pixel) Windows BMP. The top-left pixel is the transparency key: the
bitmap control replaces every pixel of that colour by the dialog's face colour.

Run it to regenerate norvaled.bmp; the file is kept in the repository so that builds do not
need Python."""
import math
import struct
import sys

W, H = 96, 112

palette = []          # (r, g, b)
index_of = {}


def colour(r, g, b):
    key = (int(r), int(g), int(b))
    if key not in index_of:
        if len(palette) >= 256:
            raise SystemExit("palette full")
        index_of[key] = len(palette)
        palette.append(key)
    return index_of[key]


KEY = colour(255, 0, 255)  # transparency key, palette entry 0
pixels = [[KEY] * W for _ in range(H)]


def lerp(a, b, t):
    return a + (b - a) * t


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Soft shadow under the book.
for y in range(H):
    for x in range(W):
        if inside_round_rect(x, y, 14, 14, 89, 107, 7):
            pixels[y][x] = colour(150, 150, 160)

# Pages (the block of paper seen at the right and bottom edge).
for y in range(H):
    for x in range(W):
        if inside_round_rect(x, y, 12, 10, 85, 103, 6):
            shade = 235 - 3 * ((x + y) % 4 == 0)
            pixels[y][x] = colour(shade, shade, shade - 10)

# Cover: a diagonal gradient through 96 shades of blue.
for y in range(H):
    for x in range(W):
        if inside_round_rect(x, y, 8, 6, 80, 98, 6):
            t = (x - 8 + y - 6) / (72 + 92)
            level = round(t * 95) / 95
            pixels[y][x] = colour(lerp(40, 10, level), lerp(110, 40, level), lerp(210, 120, level))

# Spine.
for y in range(8, 97):
    for x in range(9, 17):
        t = (x - 9) / 8
        pixels[y][x] = colour(lerp(20, 35, t), lerp(45, 70, t), lerp(110, 150, t))

# Question mark: a thick stroke along an arc, a bend and a stem, and a dot; gold with a
# lighter rim.
path = []
cx, cy, rad = 48, 36, 14
for k in range(0, 241):
    a = math.radians(180 + k)  # from the left, over the top, down the right side
    path.append((cx + rad * math.cos(a), cy + rad * math.sin(a)))
ex, ey = path[-1]
for k in range(1, 21):
    t = k / 20
    path.append((lerp(ex, 48, t), lerp(ey, 60, t)))
for k in range(1, 9):
    path.append((48, 60 + k))
half = 5.0
for y in range(H):
    for x in range(W):
        d = min(math.hypot(x - px, y - py) for (px, py) in path)
        dot = math.hypot(x - 48, y - 82)
        if d <= half or dot <= 6:
            rim = (d <= half and d > half - 1.5) or (d > half and dot > 4.5)
            t = (y - 20) / 70
            if rim:
                pixels[y][x] = colour(255, 235, 150)
            else:
                pixels[y][x] = colour(lerp(255, 220, t), lerp(205, 150, t), lerp(40, 10, t))

# Title bars on the cover.
for y in (92, 93):
    for x in range(24, 72):
        pixels[y][x] = colour(200, 215, 240)

# Fill the palette to 256 entries with a grey ramp so the table is complete.
g = 0
while len(palette) < 256:
    key = (g % 256, g % 256, (g * 7) % 256)
    if key not in index_of:
        colour(*key)
    g += 1

row = (W + 3) & ~3
data = bytearray()
for y in range(H - 1, -1, -1):  # bottom-up rows
    data += bytes(pixels[y]) + bytes(row - W)

info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(data), 2835, 2835, 256, 0)
table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
offset = 14 + len(info) + len(table)
header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
out = sys.argv[1] if len(sys.argv) > 1 else "norvaled.bmp"
with open(out, "wb") as f:
    f.write(header + info + table + data)
print(f"{out}: {W}x{H}, {len(palette)} colours")
