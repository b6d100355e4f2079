#!/usr/bin/env python3
"""Draws the program icon (a page under a scanner lamp) into resources/pagorex.ico."""
import struct, sys

def pixel(x, y):
    # 32x32, y from the top. Dark frame, white page with text lines, green scan bar.
    if 6 <= x <= 25 and 3 <= y <= 28:
        if x in (6, 25) or y in (3, 28):
            return (40, 40, 40, 255)
        if 14 <= y <= 16:
            return (40, 200, 80, 255)
        if y % 4 == 0 and 9 <= x <= 22 and y not in (14, 15, 16):
            return (90, 90, 160, 255)
        return (255, 255, 255, 255)
    return (0, 0, 0, 0)

def icon():
    w = h = 32
    rows = []
    for y in range(h - 1, -1, -1):          # bottom-up
        for x in range(w):
            r, g, b, a = pixel(x, y)
            rows.append(struct.pack('<BBBB', b, g, r, a))
    xor = b''.join(rows)
    mask_row = 4                              # 32 bits per row, already 4-byte aligned
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = 0
        for x in range(w):
            if pixel(x, y)[3] == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', w, h, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image

if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'resources/pagorex.ico'
    with open(out, 'wb') as f:
        f.write(icon())
