#!/usr/bin/env python3
"""Draws DRVFIXUP's icon (a driver chip with a power sign) and writes it as
drvfixup.ico: 32x32 and 16x16 images in the 16 standard VGA colours.
Run it again after changing the drawing; the .ico is committed."""
import math
import struct
import sys

# The 16 standard colours, as the 4-bit icon palette expects them (RGB).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, YELLOW, WHITE = 0, 4, 7, 8, 9, 11, 15
CLEAR = None


def draw(n):
    """One image of n x n pixels, top row first; CLEAR is transparent."""
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]
    body0, body1 = round(6 * s), n - 1 - round(6 * s)
    # Pins on the left and right edges of the chip.
    for k in range(4):
        y = round((8 + 5 * k) * s)
        for x in list(range(round(2 * s), body0)) + list(range(body1 + 1, n - round(2 * s))):
            for dy in range(max(1, round(2 * s))):
                px[y + dy][x] = SILVER
    # The chip body with a dark outline.
    for y in range(round(3 * s), n - round(3 * s)):
        for x in range(body0, body1 + 1):
            edge = y in (round(3 * s), n - round(3 * s) - 1) or x in (body0, body1)
            px[y][x] = BLACK if edge else NAVY
    # The power sign: an open ring with a bar through its gap.
    c = (n - 1) / 2.0
    r_out, r_in = 7.5 * s, 5.0 * s
    for y in range(n):
        for x in range(n):
            d = math.hypot(x - c, y - c)
            angle = math.degrees(math.atan2(x - c, c - y))  # 0 at the top
            if r_in <= d <= r_out and abs(angle) > 35:
                px[y][x] = YELLOW
    for y in range(round(7 * s), round(17 * s)):
        for x in range(round(c - 1.2 * s + 0.5), round(c + 1.2 * s + 0.5)):
            px[y][x] = YELLOW
    return px


def dib(px):
    n = len(px)
    row = ((n * 4 + 31) // 32) * 4
    mask_row = ((n + 31) // 32) * 4
    xor, andm = bytearray(), bytearray()
    for line in reversed(px):  # bottom-up
        bits = bytearray(row)
        mask = bytearray(mask_row)
        for x, p in enumerate(line):
            idx = 0 if p is CLEAR else p
            bits[x // 2] |= idx << (4 if x % 2 == 0 else 0)
            if p is CLEAR:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor += bits
        andm += mask
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + pal + bytes(xor) + bytes(andm)


def main(path):
    images = [dib(draw(32)), dib(draw(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'drvfixup.ico')
