#!/usr/bin/env python3
"""Draws the program icon: a strip of film with a play triangle, as a
32x32 and a 16x16 image of 16 colours in one .ico file.

usage: make_icon.py OUTPUT.ico          writes the icon
       make_icon.py --check FILE.ico    exits 1 unless FILE holds what this
                                        script draws
"""

import struct
import sys

# The 16 colours of the standard VGA palette, as (red, green, blue).
VGA_PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_CYAN, YELLOW, WHITE = 0, 6, 11, 15
TRANSPARENT = None


def inside_triangle(u, v):
    """The play triangle, pointing right, in the middle of the strip."""
    left, right, top, bottom = 0.36, 0.70, 0.31, 0.69
    if not (left <= u <= right):
        return False
    half = (bottom - top) / 2 * (right - u) / (right - left)
    return abs(v - 0.5) <= half


def is_sprocket_hole(x, size):
    """Holes every size/8 pixels along the strip, half a period wide, with
    black left between the first hole and the strip's end."""
    period = size // 8
    return (x - 1) % period >= period // 2


def pixel(x, y, size):
    """Colour index of pixel (x, y), or TRANSPARENT. Shapes are placed in the
    unit square and sampled at pixel centres, so both sizes share one drawing."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if not (0.06 < u < 0.94 and 0.12 < v < 0.88):
        return TRANSPARENT
    in_hole_row = 0.16 < v < 0.23 or 0.77 < v < 0.84
    if in_hole_row and 0.1 < u < 0.9 and is_sprocket_hole(x, size):
        return WHITE
    if not (0.1 < u < 0.9 and 0.27 < v < 0.73):
        return BLACK
    return YELLOW if inside_triangle(u, v) else DARK_CYAN


def draw(size):
    """Rows of colour indices (TRANSPARENT outside the picture), top row first."""
    return [[pixel(x, y, size) for x in range(size)] for y in range(size)]


def padded(row_bytes):
    return row_bytes + b"\x00" * (-len(row_bytes) % 4)


def icon_image(size):
    """One icon image: header with doubled height, palette, 4-bit colour
    bitmap and 1-bit AND mask, both bottom-up with lines padded to 4 bytes."""
    rows = draw(size)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        indices = [BLACK if p is TRANSPARENT else p for p in row]
        colour += padded(bytes((indices[x] << 4) | indices[x + 1] for x in range(0, size, 2)))
        bits = [1 if p is TRANSPARENT else 0 for p in row]
        mask += padded(bytes(sum(bits[x + i] << (7 - i) for i in range(8))
                             for x in range(0, size, 8)))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA_PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def icon_file():
    images = [icon_image(32), icon_image(16)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main(arguments):
    if len(arguments) == 1:
        with open(arguments[0], "wb") as f:
            f.write(icon_file())
        return 0
    if len(arguments) == 2 and arguments[0] == "--check":
        with open(arguments[1], "rb") as f:
            if f.read() == icon_file():
                return 0
        print(f"{arguments[1]} differs from what make_icon.py draws; run it again",
              file=sys.stderr)
        return 1
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
