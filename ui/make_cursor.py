#!/usr/bin/env python3
"""Turns a text picture of a 32 x 32 monochrome cursor into a .cur file.

The picture holds a line "hotspot X Y" and 32 rows of 32 characters:
'#' black, 'o' white, '.' transparent, '^' the inverted screen. Lines
starting with '#' followed by a blank are comments.

Usage: make_cursor.py picture.txt output.cur
"""
import struct
import sys

SIZE = 32
# (AND bit, XOR bit) per character: the screen is ANDed with the first and
# XORed with the second.
PIXELS = {'#': (0, 0), 'o': (0, 1), '.': (1, 0), '^': (1, 1)}


def read_picture(path):
    hotspot = None
    rows = []
    with open(path, encoding='ascii') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if line.startswith('# ') or line == '#' or not line.strip():
                continue
            if line.startswith('hotspot'):
                _, x, y = line.split()
                hotspot = (int(x), int(y))
                continue
            if len(line) != SIZE or any(c not in PIXELS for c in line):
                sys.exit(f'{path}:{number}: a row must be {SIZE} characters of {"".join(PIXELS)}')
            rows.append(line)
    if len(rows) != SIZE:
        sys.exit(f'{path}: {len(rows)} rows, {SIZE} wanted')
    if hotspot is None or not all(0 <= v < SIZE for v in hotspot):
        sys.exit(f'{path}: a "hotspot X Y" line inside the picture is needed')
    return rows, hotspot


def plane(rows, which):
    # Bitmaps run bottom-up, 4 bytes a row, most significant bit leftmost.
    data = bytearray()
    for row in reversed(rows):
        bits = 0
        for c in row:
            bits = bits << 1 | PIXELS[c][which]
        data += bits.to_bytes(SIZE // 8, 'big')
    return bytes(data)


def cursor_file(rows, hotspot):
    xor_mask, and_mask = plane(rows, 1), plane(rows, 0)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 1, 0,
                         len(xor_mask) + len(and_mask), 0, 0, 2, 0)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    image = header + palette + xor_mask + and_mask
    directory = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rows, hotspot = read_picture(sys.argv[1])
    with open(sys.argv[2], 'wb') as f:
        f.write(cursor_file(rows, hotspot))


if __name__ == '__main__':
    main()
