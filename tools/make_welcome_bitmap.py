#!/usr/bin/env python3
"""Draws the welcome dialog's picture and writes it as a BMP file.

The picture is 122 x 229 pixels, 16 colours, 4 bits per pixel, rows stored
bottom-up and uncompressed, with a 40-byte information header: the shape the
setup program's bitmap loader and welcome dialog expect. It shows a sky in
bands of blue, a cloud, and below it a disk stack with an arrow rising from
it into the cloud. The output is deterministic; the build compresses it into
the "CMPBMP" resource 109.

usage: make_welcome_bitmap.py OUTPUT.bmp
"""
import struct
import sys

WIDTH = 122
HEIGHT = 229

# The palette, index: (red, green, blue).
PALETTE = [
    (0x10, 0x1C, 0x3C),  # 0 night blue
    (0x16, 0x2A, 0x5A),  # 1
    (0x1E, 0x3C, 0x78),  # 2
    (0x28, 0x50, 0x96),  # 3
    (0x34, 0x66, 0xB2),  # 4
    (0x48, 0x80, 0xC8),  # 5
    (0x64, 0x9C, 0xDA),  # 6
    (0x8C, 0xBC, 0xE8),  # 7 pale sky
    (0xFF, 0xFF, 0xFF),  # 8 cloud white
    (0xD8, 0xE2, 0xEE),  # 9 cloud shade
    (0xA8, 0xB4, 0xC4),  # 10 disk light
    (0x70, 0x7C, 0x8C),  # 11 disk mid
    (0x40, 0x48, 0x56),  # 12 disk dark
    (0x3C, 0xB4, 0x5A),  # 13 arrow green
    (0x22, 0x78, 0x3A),  # 14 arrow shade
    (0xF0, 0xC8, 0x3C),  # 15 activity lamp
]


def sky(x, y):
    """Bands from pale at the top to night blue at the bottom, with a slight
    diagonal dither at every band edge."""
    band_height = HEIGHT / 8.0
    t = y + (x * 0.15)
    band = int(t / band_height)
    edge = t - band * band_height
    if edge < 2 and (x + y) % 2 == 0:
        band -= 1
    return max(0, min(7, 7 - band))


def in_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def cloud(x, y):
    """A cloud of overlapping ellipses; its lower part shaded. None outside."""
    lobes = [(61, 62, 30, 20), (38, 72, 22, 15), (85, 72, 24, 15), (52, 50, 18, 15),
             (74, 52, 17, 13), (61, 78, 42, 10)]
    if not any(in_ellipse(x, y, *lobe) for lobe in lobes):
        return None
    return 9 if y > 76 else 8


def disk_stack(x, y):
    """Three stacked disks (cylinders) drawn from the side. None outside."""
    cx, rx, ry = 61, 34, 8
    for top in (150, 168, 186):
        bottom = top + 12
        body = abs(x - cx) <= rx and top <= y <= bottom
        lid = in_ellipse(x, y, cx, top, rx, ry)
        base = in_ellipse(x, y, cx, bottom, rx, ry)
        if lid and y <= top:
            if in_ellipse(x, y, cx, top, rx - 3, ry - 2):
                return 10
            return 11
        if body or base:
            if abs(x - 84) <= 1 and abs(y - (top + 6)) <= 1:
                return 15
            shade = (x - (cx - rx)) / (2.0 * rx)
            return 10 if shade < 0.3 else (11 if shade < 0.75 else 12)
    return None


def arrow(x, y):
    """An arrow from the top disk up into the cloud. None outside."""
    cx = 61
    if 100 <= y <= 140 and abs(x - cx) <= 5:
        return 14 if x - cx >= 3 else 13
    if 84 <= y < 100 and abs(x - cx) <= (y - 84):
        return 14 if x - cx >= (y - 84) - 2 else 13
    return None


def pixel(x, y):
    """Colour index of the pixel at column x, row y (row 0 at the top)."""
    for layer in (arrow, disk_stack, cloud):
        value = layer(x, y)
        if value is not None:
            return value
    if y >= HEIGHT - 12:  # ground strip
        return 12 if (x // 4 + y) % 3 else 0
    return sky(x, y)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    stride = ((WIDTH * 4 + 31) // 32) * 4
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray(stride)
        for x in range(WIDTH):
            value = pixel(x, y)
            if x % 2 == 0:
                row[x // 2] |= value << 4
            else:
                row[x // 2] |= value
        rows.append(bytes(row))
    colour_table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    bits_offset = 14 + 40 + len(colour_table)
    pixels = b"".join(rows)
    padding = b"\0" * ((4 - (bits_offset + len(pixels)) % 4) % 4)
    file_size = bits_offset + len(pixels) + len(padding)
    file_header = struct.pack("<2sIHHI", b"BM", file_size, 0, 0, bits_offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels),
                              2835, 2835, 0, 0)
    with open(sys.argv[1], "wb") as out:
        out.write(file_header + info_header + colour_table + pixels + padding)
    return 0


if __name__ == "__main__":
    sys.exit(main())
