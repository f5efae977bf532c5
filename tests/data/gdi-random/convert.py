#!/usr/bin/env python3
"""Packs the random GDI scenes and their reference pictures for the replay test.

Reads a folder holding scenes.txt and pictures.tar.xz (pictures/seed_N.ppm, binary
P6 500x500, maxval 255) and writes beside this script:
  scenes.txt.xz    the scene lines as they are, xz-compressed;
  pictures.sbrl.xz the pictures in seed order, each an .rle picture as in
                   ../gdi-reference (see convert.py there), one after the other,
                   the whole xz-compressed.
Usage: convert.py FOLDER
"""
import lzma
import os
import re
import sys
import tarfile

# The .rle encoder is the fixed scenes' one.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'gdi-reference'))
from convert import encode  # noqa: E402


def read_ppm(data):
    parts = data.split(maxsplit=4)
    assert parts[0] == b'P6' and parts[3] == b'255', 'only binary P6 with maxval 255'
    width, height = int(parts[1]), int(parts[2])
    body = parts[4]
    assert len(body) == width * height * 3
    rows = [body[y * width * 3:(y + 1) * width * 3] for y in range(height)]
    return width, height, rows


def main(folder):
    here = os.path.dirname(os.path.abspath(__file__))
    scenes = open(os.path.join(folder, 'scenes.txt'), 'rb').read()
    seeds = [int(s) for s in re.findall(rb'^# seed (\d+):', scenes, re.M)]
    pictures = {}
    with tarfile.open(os.path.join(folder, 'pictures.tar.xz')) as tar:
        for member in tar.getmembers():
            m = re.search(r'seed_(\d+)\.ppm$', member.name)
            if m:
                pictures[int(m.group(1))] = tar.extractfile(member).read()
    packed = bytearray()
    for seed in seeds:
        packed += encode(*read_ppm(pictures[seed]))
    with open(os.path.join(here, 'scenes.txt.xz'), 'wb') as f:
        f.write(lzma.compress(scenes, preset=9 | lzma.PRESET_EXTREME))
    with open(os.path.join(here, 'pictures.sbrl.xz'), 'wb') as f:
        f.write(lzma.compress(bytes(packed), preset=9 | lzma.PRESET_EXTREME))
    print(len(seeds), 'scenes,', len(packed), 'bytes of pictures before xz')


if __name__ == '__main__':
    main(sys.argv[1])
