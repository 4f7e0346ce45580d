"""Writes Windows icons of 16-colour images: the drawing scripts of the
dialog programs share it."""
import struct

# The 16 standard colours, as the 4-bit icon palette expects them (RGB).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, GREEN, YELLOW, WHITE = 0, 4, 7, 8, 9, 10, 11, 15
CLEAR = None


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


def write_ico(path, draw):
    """Writes the 32x32 and 16x16 images that draw(n) gives as one .ico."""
    images = [dib(draw(32)), dib(draw(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))
