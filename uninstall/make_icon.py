#!/usr/bin/env python3
"""Draws AGTREMOV's icon (a PC screen with a red cross: the agent taken off)
and writes it as agtremov.ico: 32x32 and 16x16 images in the 16 standard VGA
colours. Run it again after changing the drawing; the .ico is committed."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from ico import BLACK, CLEAR, GREY, NAVY, RED, SILVER, WHITE, write_ico  # noqa: E402


def draw(n):
    """One image of n x n pixels, top row first; CLEAR is transparent."""
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]
    # The screen: a silver case with a black outline and a navy glass.
    x0, x1, y0, y1 = round(2 * s), n - 1 - round(2 * s), round(3 * s), round(21 * s)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = y in (y0, y1) or x in (x0, x1)
            glass = x0 + round(3 * s) <= x <= x1 - round(3 * s) and \
                y0 + round(3 * s) <= y <= y1 - round(3 * s)
            px[y][x] = BLACK if edge else NAVY if glass else SILVER
    # A line of white "text" on the glass.
    for x in range(x0 + round(5 * s), x0 + round(14 * s)):
        px[y0 + round(6 * s)][x] = WHITE
    # The stand and its foot.
    for y in range(y1 + 1, n - round(4 * s)):
        for x in range(round(13 * s), n - round(13 * s)):
            px[y][x] = GREY
    for y in range(n - round(4 * s), n - round(2 * s)):
        for x in range(round(8 * s), n - round(8 * s)):
            px[y][x] = GREY
    # The red cross over the lower right corner.
    c0, c1 = round(15 * s), n - 1 - round(1 * s)
    w = max(1, round(2.5 * s))
    for i in range(c1 - c0 + 1):
        for d in range(-w // 2, w - w // 2):
            for x, y in ((c0 + i + d, c0 + i), (c1 - i + d, c0 + i)):
                if 0 <= x < n and 0 <= y < n:
                    px[y][x] = RED
    return px


if __name__ == '__main__':
    write_ico(sys.argv[1] if len(sys.argv) > 1 else 'agtremov.ico', draw)
