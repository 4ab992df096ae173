#!/usr/bin/env python3
"""Writes the Windows icon of the programs from the window's 32x32 PNG icon.

    make-ico.py INPUT.png OUTPUT.ico

The ICO holds the 32x32 image and a 16x16 one (each pixel the mean of a 2x2
block) as 32-bit BGRA bitmaps, which every Windows version, NSIS and windres
take. Reads only 8-bit RGBA, non-interlaced PNG files (as
app/image/make_icons.py writes them). Standard library only.
"""
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        raise SystemExit(f"{path}: only 8-bit RGBA non-interlaced PNG files are read")
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prev[i], prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return rows


def halve(rows):
    return [[tuple(sum(rows[2 * y + dy][2 * x + dx][k] for dy in (0, 1) for dx in (0, 1)) // 4 for k in range(4))
             for x in range(len(rows[0]) // 2)] for y in range(len(rows) // 2)]


def bitmap(rows):
    size = len(rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    return info + pixels + bytes(mask_stride * size)   # alpha decides; the AND mask stays clear


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    rows = read_png(sys.argv[1])
    images = [bitmap(rows), bitmap(halve(rows))]
    sizes = [len(rows), len(rows) // 2]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[2], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
