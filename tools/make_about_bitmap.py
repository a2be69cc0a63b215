#!/usr/bin/env python3
"""Draws the about box's picture: a tally of four strokes crossed by a
fifth on a sheet of ruled paper, as a 16-colour Windows bitmap.

    python3 tools/make_about_bitmap.py server/console/win32/about.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 100, 92
PALETTE = [
    (0, 0, 0), (255, 255, 255), (250, 246, 230), (170, 200, 235),
    (40, 60, 120), (200, 60, 50), (120, 120, 120), (230, 230, 230),
] + [(0, 0, 0)] * 8
PAPER, RULE, INK, CROSS, EDGE = 2, 3, 4, 5, 6


def picture():
    px = [[PAPER] * WIDTH for _ in range(HEIGHT)]
    for y in range(12, HEIGHT - 4, 10):          # ruled lines
        for x in range(4, WIDTH - 4):
            px[y][x] = RULE
    for x in range(WIDTH):                       # frame
        px[0][x] = px[HEIGHT - 1][x] = EDGE
    for y in range(HEIGHT):
        px[y][0] = px[y][WIDTH - 1] = EDGE
    for k in range(4):                           # four upright strokes
        x0 = 22 + 16 * k
        for y in range(18, 76):
            for dx in range(4):
                px[y][x0 + dx] = INK
    for t in range(0, 76):                       # the fifth stroke across them
        x = 12 + t
        y = 70 - (t * 44) // 76
        for d in range(4):
            if 0 <= y + d < HEIGHT and 0 <= x < WIDTH:
                px[y + d][x] = CROSS
    return px


def bmp(px):
    row_bytes = ((WIDTH + 1) // 2 + 3) // 4 * 4
    rows = []
    for row in reversed(px):                     # bottom-up
        data = bytearray()
        for x in range(0, WIDTH, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < WIDTH else 0
            data.append((hi << 4) | lo)
        rows.append(bytes(data.ljust(row_bytes, b"\0")))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    return header + info + palette + pixels


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(bmp(picture()))
