#!/usr/bin/env python3
"""Turns the trace fuzz seeds into 1-bit BMP images, one per seed.

A seed is read as fuzz/fuzz_trace.cpp reads it: byte 0 is width - 1 and
byte 1 height - 1 (mod 64), bits 3-4 of byte 2 a scale of 1 to 4, then one
bit per cell, row by row, 1 = ink, each cell a block of scale x scale
pixels. The row padding of the fuzz target has no place in a BMP file and is
left out.

Usage: seed_images.py SEED_FOLDER OUTPUT_FOLDER
"""
import os
import struct
import sys


def drawing(data):
    columns = 1 + (data[0] if len(data) > 0 else 0) % 64
    rows = 1 + (data[1] if len(data) > 1 else 0) % 64
    layout = data[2] if len(data) > 2 else 0
    scale = 1 + (layout >> 3 & 3)
    bits = data[3:]
    width, height = columns * scale, rows * scale
    ink = [[False] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            bit = (y // scale) * columns + x // scale
            ink[y][x] = bit < len(bits) * 8 and (bits[bit // 8] >> (bit % 8)) & 1 == 1
    return width, height, ink


def bmp(width, height, ink):
    # Palette entry 0 is black (ink), entry 1 white; rows bottom-up, padded to 4 bytes.
    stride = ((width + 31) // 32) * 4
    rows = bytearray()
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if not ink[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        rows += row
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(rows), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 1, 0, len(rows), 3780, 3780, 2, 2)
    return header + info + palette + bytes(rows)


def main():
    seeds, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(seeds)):
        with open(os.path.join(seeds, name), 'rb') as f:
            data = f.read()
        with open(os.path.join(out, name + '.bmp'), 'wb') as f:
            f.write(bmp(*drawing(data)))


if __name__ == '__main__':
    main()
