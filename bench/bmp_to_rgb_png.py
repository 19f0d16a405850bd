#!/usr/bin/python3
"""bmp_to_rgb_png.py IN.bmp OUT.png

Writes a 1-bit BMP (as bench/make_drawing draws it) as an 8-bit RGB PNG
(colour type 2): dark blue ink on cream paper, as a colour scanner saves a
drawing. Rows are converted and compressed one at a time, so a 560
megapixel drawing needs little memory here."""
import struct
import sys
import zlib

INK = bytes((30, 30, 90))
PAPER = bytes((250, 248, 240))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(source, target):
    with open(source, "rb") as bmp:
        data = bmp.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    palette = [data[54 + 4 * i:54 + 4 * i + 3] for i in range(2)]
    if bits != 1:
        raise SystemExit("%s: not a 1-bit BMP" % source)
    ink_bit = 0 if palette[0] == b"\x00\x00\x00" else 1
    # Each source byte gives eight pixels of three bytes.
    table = []
    for byte in range(256):
        pixels = [(byte >> (7 - k)) & 1 for k in range(8)]
        table.append(b"".join(INK if p == ink_bit else PAPER for p in pixels))
    row_bytes = (width + 31) // 32 * 4
    rows = abs(height)
    packer = zlib.compressobj(1)
    with open(target, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n")
        png.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, rows, 8, 2, 0, 0, 0)))
        idat = []
        size = 0
        for y in range(rows):
            source_row = rows - 1 - y if height > 0 else y
            start = offset + source_row * row_bytes
            line = b"".join(map(table.__getitem__, data[start:start + (width + 7) // 8]))[:3 * width]
            part = packer.compress(b"\x00" + line)
            if part:
                idat.append(part)
                size += len(part)
            if size > (8 << 20):
                png.write(chunk(b"IDAT", b"".join(idat)))
                idat, size = [], 0
        idat.append(packer.flush())
        png.write(chunk(b"IDAT", b"".join(idat)))
        png.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
