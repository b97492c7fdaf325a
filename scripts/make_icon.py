#!/usr/bin/env python3
"""Draws the program's icon, src/ui/kurvane.ico: a page with lines of text
coming out of a block of data, at 16, 32 and 48 pixels, 32-bit colour with
alpha. No image library is needed; the output is the same on every run.

    python3 scripts/make_icon.py [output]   (default src/ui/kurvane.ico)
"""
import struct
import sys
from pathlib import Path

PAPER = (250, 250, 245, 255)
EDGE = (70, 80, 95, 255)
TEXT = (30, 90, 170, 255)
DATA = (120, 130, 140, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Rows of RGBA tuples, top row first."""
    px = [[CLEAR] * size for _ in range(size)]
    u = size / 16.0

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * u), max(int(y1 * u), int(y0 * u) + 1)):
            for x in range(int(x0 * u), max(int(x1 * u), int(x0 * u) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    # The page, with an edge.
    rect(3, 1, 14, 15, EDGE)
    rect(4, 2, 13, 14, PAPER)
    # Lines of text.
    for row, length in ((4, 8), (6, 6), (8, 8), (10, 5)):
        rect(5, row, 5 + length - 0.01, row + 1, TEXT)
    # The data block it came from, bottom left.
    rect(1, 10, 7, 15, EDGE)
    rect(2, 11, 6, 14, DATA)
    return px


def bitmap(size):
    """The BITMAPINFOHEADER image of one icon: colours bottom-up, then the AND mask."""
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(
        bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(px):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colours + mask


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent.parent / "src/ui/kurvane.ico")
    sizes = (16, 32, 48)
    images = [bitmap(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out.write_bytes(data + b"".join(images))


if __name__ == "__main__":
    main()
