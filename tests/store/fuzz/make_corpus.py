#!/usr/bin/env python3
"""Writes the store fuzzer's seeds (small stores in its input layout) into corpus/."""
import gzip
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def bitmap(width, height, seed):
    row = (24 * width + 31) // 32 * 4
    pixels = bytes((i * 31 + seed) & 0xFF for i in range(row * height))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54) + header + pixels


def record(number, offset, stored, compressed, image_length, deleted=0):
    return struct.pack("<BiIIBI", deleted, number, offset, stored, compressed, image_length) + bytes(238)


def store(name, entries, moved=0, flags=1, extra=b""):
    """entries: (number, image, compressed, deleted); the first `moved` go to pagorex.new."""
    index, data, new = b"", extra, b""
    for i, (number, image, compressed, deleted) in enumerate(entries):
        blob = gzip.compress(image, 9, mtime=0) if compressed else image
        target = new if i < moved else data
        offset = len(target)
        if i < moved:
            new += blob
        else:
            data += blob
        index += record(number, offset, len(blob), 1 if compressed else 0, len(image) if compressed else 0, deleted)
    if moved:
        flags |= 2
    with open(os.path.join(here, name), "wb") as f:
        f.write(bytes([flags | (5 << 2)]) + struct.pack("<II", len(index), len(new)) + index + new + data)


os.makedirs(here, exist_ok=True)
store("sound", [(1, bitmap(5, 3, 1), True, 0), (2, bitmap(3, 2, 2), True, 0)])
store("mixed_states", [(4, bitmap(4, 4, 3), False, 0), (4, bitmap(2, 2, 4), True, 0), (9, bitmap(6, 1, 5), True, 1)],
      extra=bytes(40))
store("interrupted_compaction", [(1, bitmap(3, 3, 6), True, 0), (2, bitmap(5, 2, 7), True, 0),
                                 (3, bitmap(2, 5, 8), True, 0)], moved=2)
store("no_data_file", [(7, bitmap(2, 2, 9), True, 0)], flags=0)
