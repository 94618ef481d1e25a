#!/usr/bin/env python3
"""Draws the uploader's icon (an upward arrow over a photo frame) as a .ico file
holding a 16x16 and a 32x32 image, 32 bits per pixel.

    make_icon.py src/resources/uploader.ico
"""

import struct
import sys

FRAME = (0x2E, 0x6F, 0xB7, 0xFF)  # blue, RGBA
INNER = (0xF4, 0xF7, 0xFB, 0xFF)
ARROW = (0xE8, 0x6A, 0x17, 0xFF)  # orange
CLEAR = (0, 0, 0, 0)


def pixel(x: float, y: float) -> tuple:
    """Colour at a point of the unit square, y growing downwards."""
    if not (0.06 <= x <= 0.94 and 0.12 <= y <= 0.94):
        return CLEAR
    shaft = 0.42 <= x <= 0.58 and 0.45 <= y <= 0.82
    head = y >= 0.22 and y <= 0.50 and abs(x - 0.5) <= (y - 0.22) * 0.95
    if shaft or head:
        return ARROW
    if 0.14 <= x <= 0.86 and 0.20 <= y <= 0.86:
        return INNER
    return FRAME


def image(size: int) -> bytes:
    rows = []
    for row in range(size - 1, -1, -1):  # bottom-up, as in a DIB
        line = bytearray()
        for col in range(size):
            r, g, b, a = pixel((col + 0.5) / size, (row + 0.5) / size)
            line += bytes((b, g, r, a))
        rows.append(bytes(line))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)  # the alpha channel decides transparency
    return header + b"".join(rows) + and_mask


def main() -> int:
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images, strict=False):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
