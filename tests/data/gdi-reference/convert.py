#!/usr/bin/env python3
"""Turns the reference pictures (8-bit RGB PNG, no interlace) into .rle files
that the GDI tests read without an image library.

.rle layout (little-endian):
  "SBRL", width u16, height u16, colour count u8, colours (R, G, B bytes each),
  then each row: a byte k; k > 0 repeats the row k rows above, k = 0 is
  followed by runs covering the row: colour index u8, run length as an
  unsigned LEB128 number.
Usage: convert.py picture.png ...   (writes picture.rle beside each)
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos, idat, width, height = 8, b'', 0, 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert depth == 8 and colour == 2 and interlace == 0, 'only 8-bit RGB'
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 3] if i >= 3 else 0
            up = prev[i]
            upleft = prev[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def leb128(n):
    out = bytearray()
    while True:
        byte = n & 0x7F
        n >>= 7
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def encode(width, height, rows):
    """The .rle bytes of a picture given as rows of R, G, B bytes."""
    pixels = [row[x * 3:x * 3 + 3] for row in rows for x in range(width)]
    colours = sorted(set(pixels))
    assert len(colours) < 256
    index = {c: i for i, c in enumerate(colours)}
    out = bytearray(b'SBRL' + struct.pack('<HHB', width, height, len(colours)))
    for c in colours:
        out += c
    lines = [pixels[y * width:(y + 1) * width] for y in range(height)]
    for y, line in enumerate(lines):
        same = [k for k in range(1, min(y, 255) + 1) if lines[y - k] == line]
        if same:
            out.append(same[0])
            continue
        out.append(0)
        x = 0
        while x < width:
            run = 1
            while x + run < width and line[x + run] == line[x]:
                run += 1
            out.append(index[line[x]])
            out += leb128(run)
            x += run
    return bytes(out)


def convert(path):
    open(path[:-4] + '.rle', 'wb').write(encode(*read_png(path)))


if __name__ == '__main__':
    for name in sys.argv[1:]:
        convert(name)
