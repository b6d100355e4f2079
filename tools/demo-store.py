#!/usr/bin/env python3
"""Writes a demo image store: record 1 holds a generated colour page (a gzip-compressed
24-bit bitmap file), as the program itself stores it."""
import gzip, os, struct, sys

def bitmap(width=320, height=200):
    row_bytes = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(height - 1, -1, -1):           # bottom-up
        row = bytearray()
        for x in range(width):
            if 20 <= x < 300 and 20 <= y < 180 and (y // 20) % 2 == 0:
                r, g, b = 40 + (x * 200) // width, 60 + (y * 150) // height, 160
            else:
                r, g, b = 250, 250, 245
            row += bytes((b, g, r))
        row += b'\0' * (row_bytes - len(row))
        rows += row
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(rows), 11811, 11811, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return header + info + bytes(rows)

def main(directory):
    os.makedirs(directory, exist_ok=True)
    image = bitmap()
    blob = gzip.compress(image, compresslevel=9)
    with open(os.path.join(directory, 'pagorex.dat'), 'wb') as data:
        data.write(blob)
    record = struct.pack('<BiIIBI', 0, 1, 0, len(blob), 1, len(image)) + b'\0' * 238
    assert len(record) == 256
    with open(os.path.join(directory, 'pagorex.idx'), 'wb') as index:
        index.write(record)

if __name__ == '__main__':
    main(sys.argv[1])
