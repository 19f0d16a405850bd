#!/usr/bin/env python3
"""Draws the sample floor plan samples/plan.bmp: a 1-bit BMP of a small flat
with walls of two thicknesses, door swings, windows, a staircase, a round
table and a dimension line, the kind of drawing users scan."""
import math
import struct
import sys

W, H = 640, 420
ink = bytearray(W * H)  # 1 = ink


def dot(x, y):
    if 0 <= x < W and 0 <= y < H:
        ink[y * W + x] = 1


def rect(x0, y0, x1, y1):
    """Solid rectangle, corners inclusive."""
    for y in range(max(0, y0), min(H, y1 + 1)):
        for x in range(max(0, x0), min(W, x1 + 1)):
            ink[y * W + x] = 1


def clear(x0, y0, x1, y1):
    for y in range(max(0, y0), min(H, y1 + 1)):
        for x in range(max(0, x0), min(W, x1 + 1)):
            ink[y * W + x] = 0


def line(x0, y0, x1, y1, width=1):
    steps = max(abs(x1 - x0), abs(y1 - y0), 1)
    r = width // 2
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        rect(x - r, y - r, x - r + width - 1, y - r + width - 1)


def arc(cx, cy, radius, a0, a1, width=1):
    steps = int(abs(a1 - a0) * radius / 40) + 8
    points = [(cx + radius * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
               cy + radius * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]
    for (xa, ya), (xb, yb) in zip(points, points[1:]):
        line(round(xa), round(ya), round(xb), round(yb), width)


# Outer walls, 8 px thick.
T = 8
rect(40, 40, 600, 40 + T - 1)
rect(40, 372, 600, 372 + T - 1)
rect(40, 40, 40 + T - 1, 379)
rect(593, 40, 600, 379)
# Inner walls, 4 px thick.
rect(300, 48, 303, 371)
rect(48, 200, 299, 203)
rect(304, 250, 592, 253)
# Door openings with their swings.
clear(120, 200, 169, 203)
line(120, 203, 120, 253, 2)
arc(120, 203, 50, 0, 90)
clear(300, 120, 303, 169)
line(303, 120, 353, 120, 2)
arc(303, 120, 50, 0, 90)
clear(420, 250, 469, 253)
line(469, 250, 469, 200, 2)
arc(469, 250, 49, 180, 270)
# Windows in the outer walls: three thin lines across the opening.
for x0 in (90, 380):
    clear(x0, 40, x0 + 80, 47)
    for y in (40, 43, 47):
        line(x0, y, x0 + 80, y)
clear(593, 290, 600, 350)
for x in (593, 596, 600):
    line(x, 290, x, 350)
# Staircase: treads and the walking line.
rect(330, 280, 331, 360)
rect(570, 280, 571, 360)
for i in range(13):
    line(330 + 20 * i, 280, 330 + 20 * i, 360)
line(340, 320, 560, 320)
line(560, 320, 550, 314)
line(560, 320, 550, 326)
# A round table with four chairs.
arc(170, 110, 30, 0, 360, 2)
for dx, dy in ((0, -42), (0, 42), (-42, 0), (42, 0)):
    rect(170 + dx - 8, 110 + dy - 6, 170 + dx + 8, 110 + dy + 6)
    clear(170 + dx - 6, 110 + dy - 4, 170 + dx + 6, 110 + dy + 4)
# Kitchen counter with a sink.
rect(60, 300, 63, 360)
line(60, 300, 150, 300, 2)
line(60, 360, 150, 360, 2)
line(150, 300, 150, 360, 2)
arc(105, 330, 14, 0, 360)
# Dimension line under the plan with ticks.
line(40, 398, 600, 398)
for x in (40, 300, 600):
    line(x - 5, 403, x + 5, 393)

# 1-bit BMP, bottom-up rows padded to 4 bytes; palette 0 = black, 1 = white.
row_bytes = ((W + 31) // 32) * 4
pixels = bytearray()
for y in range(H - 1, -1, -1):
    row = bytearray(row_bytes)
    for x in range(W):
        if not ink[y * W + x]:
            row[x // 8] |= 0x80 >> (x % 8)
    pixels += row
palette = b"\x00\x00\x00\x00\xff\xff\xff\x00"
offset = 14 + 40 + len(palette)
header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 1, 0, len(pixels), 3937, 3937, 2, 0)
with open(sys.argv[1] if len(sys.argv) > 1 else "samples/plan.bmp", "wb") as f:
    f.write(header + info + palette + pixels)
