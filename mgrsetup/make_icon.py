#!/usr/bin/env python3
"""Draws CONSETUP's icon (a setup floppy disk with a green arrow into it) and
writes it as consetup.ico: 32x32 and 16x16 images in the 16 standard VGA
colours. Run it again after changing the drawing; the .ico is committed."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from ico import BLACK, CLEAR, GREEN, GREY, NAVY, SILVER, WHITE, write_ico  # noqa: E402



def draw(n):
    """One image of n x n pixels, top row first; CLEAR is transparent."""
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]
    # The disk: a navy body with a black outline and a cut corner.
    x0, x1, y0, y1 = round(3 * s), n - 1 - round(3 * s), round(6 * s), n - 1 - round(1 * s)
    cut = round(3 * s)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if x > x1 - cut + (y - y0):
                continue
            edge = y in (y0, y1) or x in (x0, x1) or x == x1 - cut + (y - y0)
            px[y][x] = BLACK if edge else NAVY
    # The shutter at the top and the white label below.
    for y in range(y0 + 1, y0 + round(7 * s)):
        for x in range(x0 + round(7 * s), x1 - round(8 * s)):
            px[y][x] = SILVER
    for y in range(y0 + round(11 * s), y1 - round(1 * s)):
        for x in range(x0 + round(4 * s), x1 - round(4 * s)):
            px[y][x] = WHITE
    for y in (y0 + round(14 * s), y0 + round(18 * s)):
        for x in range(x0 + round(6 * s), x1 - round(6 * s)):
            px[y][x] = GREY
    # The green arrow, pointing down into the disk.
    c = n // 2
    w = max(1, round(1.5 * s))
    for y in range(0, round(9 * s)):
        for x in range(c - w, c + w):
            px[y][x] = GREEN
    for k in range(round(5 * s)):
        y = round(9 * s) + k
        for x in range(c - round(5 * s) + k, c + round(5 * s) - k):
            px[y][x] = GREEN
    return px


if __name__ == '__main__':
    write_ico(sys.argv[1] if len(sys.argv) > 1 else 'consetup.ico', draw)
