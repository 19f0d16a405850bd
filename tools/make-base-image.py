#!/usr/bin/env python3
"""Writes the base image of the system folder: an 8 x 8 BMP with one byte
per pixel and a 256-entry colour table whose entry 0 is black (the ink
colour) and whose other entries are white. Every colour nearer to black
than to white therefore becomes ink."""
import struct
import sys

width = height = 8
palette = b"\x00\x00\x00\x00" + b"\xff\xff\xff\x00" * 255
row = bytes([255] * width)  # background; rows are already 4-byte aligned
pixels = row * height
offset = 14 + 40 + len(palette)
header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
with open(sys.argv[1] if len(sys.argv) > 1 else "Vemosys/Vemo_base.bmp", "wb") as f:
    f.write(header + info + palette + pixels)
