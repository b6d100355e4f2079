#!/usr/bin/env python3
"""Writes the fuzzer's seed bitmap files (small, valid) into the corpus directory."""
import os
import struct
import sys

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def row_bytes(bits, width):
    return (bits * width + 31) // 32 * 4


def bmp(name, bits, width, height, core=False, colors=None, tail=b""):
    if colors is None:
        colors = 1 << bits if bits <= 8 else 0
    rows = abs(height)
    image = bytes((i * 37 + 11) & 0xFF for i in range(row_bytes(bits, width) * rows))
    if core:
        header = struct.pack("<IHHHH", 12, width, height, 1, bits)
        table = b"".join(bytes((i, 255 - i, i // 2)) for i in range(colors))
    else:
        header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(image),
                             3780, 3780, 0 if colors == (1 << bits if bits <= 8 else 0) else colors, 0)
        table = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(colors))
    dib = header + table + image
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + len(header) + len(table))
    with open(os.path.join(here, name), "wb") as f:
        f.write(file_header + dib + tail)


def main():
    os.makedirs(here, exist_ok=True)
    bmp("1bit_33x10.bmp", 1, 33, 10)
    bmp("4bit_5x3.bmp", 4, 5, 3)
    bmp("8bit_7x2_topdown.bmp", 8, 7, -2)
    bmp("8bit_4x4_16colors.bmp", 8, 4, 4, colors=16)
    bmp("24bit_5x3.bmp", 24, 5, 3)
    bmp("32bit_3x2.bmp", 32, 3, 2)
    bmp("core_8bit_3x3.bmp", 8, 3, 3, core=True)
    bmp("core_24bit_2x2.bmp", 24, 2, 2, core=True, tail=b"\x00" * 8)
    return 0


if __name__ == "__main__":
    sys.exit(main())
