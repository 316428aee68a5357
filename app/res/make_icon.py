#!/usr/bin/env python3
"""Draws the program icon and writes quorvenal.ico with nine images:
48, 32 and 16 pixels square, each in 16 colours, 256 colours and 32-bit colour.

The artwork is an expansion card seen from the side: a metal bracket, a green
board with a chip and a status light, and gold contact fingers. It is drawn in
a 48-unit square and sampled at each size; 32-bit images are antialiased with
alpha, palette images take the nearest palette colour and a transparency mask.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

TRANSPARENT = None

# Shapes drawn in order, later ones on top: (x0, y0, x1, y1, (r, g, b)).
SHAPES = [
    (1.0, 3.0, 6.0, 44.0, (192, 192, 192)),    # bracket
    (1.0, 3.0, 9.0, 7.0, (192, 192, 192)),     # bracket foot
    (6.0, 9.0, 46.0, 37.0, (0, 128, 0)),       # board
    (6.0, 9.0, 46.0, 10.5, (0, 96, 0)),        # board edge shade
    (15.0, 14.0, 31.0, 30.0, (32, 32, 32)),    # chip
    (17.0, 16.0, 29.0, 28.0, (64, 64, 64)),    # chip face
    (37.0, 13.0, 42.0, 18.0, (255, 0, 0)),     # status light
    (35.0, 24.0, 43.0, 31.0, (0, 0, 128)),     # second chip
]
# Gold contact fingers below the board.
for i in range(8):
    x = 12.0 + i * 4.0
    SHAPES.append((x, 37.0, x + 2.5, 44.0, (255, 204, 0)))
# Pins on both sides of the chip.
for i in range(4):
    y = 16.5 + i * 3.5
    SHAPES.append((12.5, y, 15.0, y + 1.5, (192, 192, 192)))
    SHAPES.append((31.0, y, 33.5, y + 1.5, (192, 192, 192)))


def colour_at(x, y):
    """Colour of the artwork at a point of the 48-unit square, or TRANSPARENT."""
    found = TRANSPARENT
    for x0, y0, x1, y1, rgb in SHAPES:
        if x0 <= x < x1 and y0 <= y < y1:
            found = rgb
    return found


def sample(size, subsamples):
    """Rows top-down of (r, g, b, a) pixels, averaging subsamples^2 points each."""
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(subsamples):
                for sx in range(subsamples):
                    x = (px + (sx + 0.5) / subsamples) * scale
                    y = (py + (sy + 0.5) / subsamples) * scale
                    c = colour_at(x, y)
                    if c is not TRANSPARENT:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        covered += 1
            total = subsamples * subsamples
            if covered:
                row.append((r // covered, g // covered, b // covered, 255 * covered // total))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def palette16():
    return [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
            (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
            (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    colours = palette16()
    levels = [0, 51, 102, 153, 204, 255]
    for r in levels:
        for g in levels:
            for b in levels:
                colours.append((r, g, b))
    for i in range(24):
        v = 8 + i * 10
        colours.append((v, v, v))
    return colours


def nearest(palette, rgb):
    best, best_distance = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - rgb[0]) ** 2 + (p[1] - rgb[1]) ** 2 + (p[2] - rgb[2]) ** 2
        if best_distance is None or d < best_distance:
            best, best_distance = i, d
    return best


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def and_mask(pixels, size):
    """1 bit a pixel, 1 = transparent, rows bottom-up."""
    data = b""
    for row in reversed(pixels):
        bits = bytearray(row_bytes(size))
        for x, px in enumerate(row):
            if px[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bytes(bits)
    return data


def dib(size, bit_count):
    """BITMAPINFOHEADER, palette, colour bits and mask of one icon image."""
    if bit_count == 32:
        pixels = sample(size, 4)
        xor = b""
        for row in reversed(pixels):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        colours = []
    else:
        pixels = sample(size, 1)
        colours = palette16() if bit_count == 4 else palette256()
        xor = b""
        for row in reversed(pixels):
            indices = [nearest(colours, px[:3]) if px[3] >= 128 else 0 for px in row]
            packed = bytearray(row_bytes(size * bit_count))
            for x, index in enumerate(indices):
                if bit_count == 8:
                    packed[x] = index
                else:
                    packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
            xor += bytes(packed)
    mask = and_mask(pixels, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count, 0,
                         len(xor) + len(mask), 0, 0, len(colours), 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    return header + palette + xor + mask


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    images = []
    for size in (48, 32, 16):
        for bit_count in (4, 8, 32):
            images.append((size, bit_count, dib(size, bit_count)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bit_count, data in images:
        colour_count = 16 if bit_count == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bit_count, len(data),
                           offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
