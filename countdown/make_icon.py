#!/usr/bin/env python3
"""Draws PWRCOUNT's icon (a stopwatch whose remaining time is a red wedge)
and writes it as pwrcount.ico: 32x32 and 16x16 images in the 16 standard
VGA colours. Run it again after changing the drawing; the .ico is committed."""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from ico import BLACK, CLEAR, GREY, RED, SILVER, WHITE, write_ico  # noqa: E402


def draw(n):
    """One image of n x n pixels, top row first; CLEAR is transparent."""
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]
    cx, cy = (n - 1) / 2.0, (n - 1) / 2.0 + 2 * s
    r = 12.5 * s
    # The crown and its button above the dial.
    for y in range(round(1 * s), round(6 * s)):
        for x in range(round(cx - 2.5 * s + 0.5), round(cx + 2.5 * s + 0.5)):
            px[y][x] = GREY if y < round(3 * s) else SILVER
    for y in range(n):
        for x in range(n):
            d = math.hypot(x - cx, y - cy)
            angle = math.degrees(math.atan2(x - cx, cy - y)) % 360  # 0 at the top, clockwise
            if d > r + 0.5:
                continue
            if d > r - 1.6 * max(s, 0.7):
                px[y][x] = BLACK  # the rim
            elif angle >= 240:
                px[y][x] = RED  # the time still left
            else:
                px[y][x] = WHITE
    # The hand, at the edge of the wedge, and the hub.
    for k in range(int(r * 0.85) + 1):
        a = math.radians(240)
        x, y = round(cx + k * math.sin(a)), round(cy - k * math.cos(a))
        px[y][x] = BLACK
        if s > 0.6:
            px[y + 1][x] = BLACK
    for y in range(n):
        for x in range(n):
            if math.hypot(x - cx, y - cy) <= 1.6 * s:
                px[y][x] = BLACK
    return px


if __name__ == '__main__':
    write_ico(sys.argv[1] if len(sys.argv) > 1 else 'pwrcount.ico', draw)
