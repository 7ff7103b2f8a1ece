#!/usr/bin/env python3
"""Draws the error dialog's logo, a 32 x 32 picture in the 16 standard colours, and writes it
as a complete BMP file image (file header, information header, colour table, 4-bit pixels) to
errors/logo_bmp.inc as a C++ byte list. Run it again after changing the drawing."""
import math
import os
import struct

W = H = 32
# The 16 standard colours, as (red, green, blue).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
           (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARKRED, NAVY, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 4, 7, 8, 9, 11, 15


def draw():
    px = [[SILVER] * W for _ in range(H)]  # row 0 is the top
    # A navy tile with rounded corners and a grey rim.
    for y in range(H):
        for x in range(W):
            cx = min(x, W - 1 - x)
            cy = min(y, H - 1 - y)
            if cx < 3 and cy < 3 and (3 - cx) ** 2 + (3 - cy) ** 2 > 10:
                continue
            rim = cx == 0 or cy == 0 or (cx < 3 and cy < 3 and (3 - cx) ** 2 + (3 - cy) ** 2 > 5)
            px[y][x] = GREY if rim else NAVY
    # A red disc with a dark red edge and a small yellow highlight.
    for y in range(H):
        for x in range(W):
            d = math.hypot(x - 15.5, y - 15.5)
            if d <= 11.5:
                px[y][x] = DARKRED if d > 10.3 else RED
            if math.hypot(x - 11.5, y - 10.5) <= 1.6 and d <= 10:
                px[y][x] = YELLOW
    # A white exclamation mark: a tapering bar and a square dot.
    for y in range(7, 20):
        half = 2 if y < 12 else (1.5 if y < 17 else 1)
        for x in range(W):
            if abs(x - 15.5) <= half:
                px[y][x] = WHITE
    for y in range(21, 25):
        for x in range(14, 18):
            px[y][x] = WHITE
    return px


def bmp(px):
    row_bytes = W // 2  # 4 bits a pixel, 16 bytes: already a multiple of 4
    pixels = bytearray()
    for y in reversed(range(H)):  # bottom row first
        for x in range(0, W, 2):
            pixels.append((px[y][x] << 4) | px[y][x + 1])
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    data = header + info + table + bytes(pixels)
    assert len(pixels) == H * row_bytes
    assert len(data) == 630, len(data)
    return data


def main():
    data = bmp(draw())
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo_bmp.inc")
    with open(out, "w") as f:
        f.write("// The error dialog's logo: a 630-byte BMP file image, drawn by make_logo.py.\n")
        for i in range(0, len(data), 16):
            f.write("    " + " ".join("0x%02X," % b for b in data[i:i + 16]) + "\n")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
