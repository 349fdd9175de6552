#!/usr/bin/env python3
"""Draws the setup window's picture (Image1.bmp, 38 x 37, 24-bit) and the program icon
(Setup.ico, 32 x 32 and 16 x 16, 32-bit) from a few shapes: a receipt slip on a blue tile.
Run it here to redraw both; the outputs are checked in."""
import struct

def pixel(x, y, w, h):
    """RGB of the picture at (x, y) in a w x h tile, or None for transparent corners."""
    sx, sy = x * 38 / w, y * 37 / h
    # rounded blue tile
    r = 5
    cx = min(max(sx, r), 38 - r)
    cy = min(max(sy, r), 37 - r)
    if (sx - cx) ** 2 + (sy - cy) ** 2 > r * r:
        return None
    shade = int(150 - 60 * sy / 37)
    colour = (20, 60 + shade // 3, shade + 80)
    # the receipt: a white slip with a zigzag bottom edge
    if 10 <= sx < 28 and 5 <= sy < 31 + (2 if int(sx) % 4 < 2 else 0):
        colour = (250, 250, 245)
        if 13 <= sx < 25 and int(sy) in (10, 14, 18):
            colour = (90, 90, 110)
        if 19 <= sx < 25 and 23 <= sy < 26:
            colour = (200, 40, 40)   # the seal
    return colour

def bmp(w, h):
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            c = pixel(x, y, w, h) or (0, 0, 0)
            line += bytes((c[2], c[1], c[0]))
        data += line + bytes(row - len(line))
    header = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return struct.pack('<2sIHHI', b'BM', 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + data

def icon_image(s):
    xor = bytearray()
    for y in range(s - 1, -1, -1):
        for x in range(s):
            c = pixel(x, y, s, s)
            xor += bytes((c[2], c[1], c[0], 255)) if c else bytes(4)
    mask_row = ((s + 31) // 32) * 4
    mask = bytearray()
    for y in range(s - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(s):
            if pixel(x, y, s, s) is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, s, 2 * s, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask

def ico(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)

open('Image1.bmp', 'wb').write(bmp(38, 37))
open('Setup.ico', 'wb').write(ico([32, 16]))
