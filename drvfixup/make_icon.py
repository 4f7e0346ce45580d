#!/usr/bin/env python3
"""Draws DRVFIXUP's icon (a driver chip with a power sign) and writes it as
drvfixup.ico: 32x32 and 16x16 images in the 16 standard VGA colours.
Run it again after changing the drawing; the .ico is committed."""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from ico import BLACK, CLEAR, NAVY, SILVER, YELLOW, write_ico  # noqa: E402


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


if __name__ == '__main__':
    write_ico(sys.argv[1] if len(sys.argv) > 1 else 'drvfixup.ico', draw)
