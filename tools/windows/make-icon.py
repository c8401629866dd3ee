#!/usr/bin/env python3
"""Writes the updater's icon (icon group 128): 16, 32 and 48 pixel images at 8
bits per pixel in one .ico file.

The picture is drawn from a few shapes, sampled 4 x 4 times per pixel: a blue
rounded square with a white downward arrow above a green bar (a download that
fills a progress bar). Pixels the square covers less than half of are
transparent (AND mask). Each image has its own 256-colour palette.

Usage: make-icon.py OUTPUT.ico
"""

import struct
import sys

SIZES = (16, 32, 48)
SUBSAMPLES = 4

BODY = (0.06, 0.06, 0.94, 0.94)
BODY_RADIUS = 0.2
BORDER = 0.055
TOP_BLUE = (52, 136, 232)
BOTTOM_BLUE = (18, 66, 158)
BORDER_BLUE = (12, 42, 104)
WHITE = (255, 255, 255)
GREEN = (104, 214, 116)


def inside_rounded_rect(x, y, rect, radius):
    left, top, right, bottom = rect
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def inside_arrow(x, y):
    if 0.42 <= x <= 0.58 and 0.17 <= y <= 0.48:
        return True
    # Head: a triangle from (0.25, 0.45) and (0.75, 0.45) down to (0.5, 0.71).
    if 0.45 <= y <= 0.71:
        half_width = 0.25 * (0.71 - y) / 0.26
        return abs(x - 0.5) <= half_width
    return False


def inside_bar(x, y):
    return 0.22 <= x <= 0.78 and 0.77 <= y <= 0.85


def sample(x, y):
    """Colour at (x, y) in the unit square, or None outside the icon."""
    if not inside_rounded_rect(x, y, BODY, BODY_RADIUS):
        return None
    inner = (BODY[0] + BORDER, BODY[1] + BORDER, BODY[2] - BORDER, BODY[3] - BORDER)
    if not inside_rounded_rect(x, y, inner, BODY_RADIUS - BORDER):
        return BORDER_BLUE
    if inside_arrow(x, y):
        return WHITE
    if inside_bar(x, y):
        return GREEN
    t = (y - BODY[1]) / (BODY[3] - BODY[1])
    return tuple(round(a + (b - a) * t) for a, b in zip(TOP_BLUE, BOTTOM_BLUE))


def render(size):
    """Rows top to bottom of (r, g, b) or None for transparent pixels."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    c = sample((px + (sx + 0.5) / SUBSAMPLES) / size,
                               (py + (sy + 0.5) / SUBSAMPLES) / size)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < SUBSAMPLES * SUBSAMPLES:
                row.append(None)
            else:
                row.append(tuple(round(sum(c[i] for c in hits) / len(hits)) for i in range(3)))
        rows.append(row)
    return rows


def build_palette(rows):
    """At most 256 colours: the most frequent ones, the rest mapped to the nearest."""
    counts = {}
    for row in rows:
        for c in row:
            if c is not None:
                counts[c] = counts.get(c, 0) + 1
    palette = [(0, 0, 0)]  # index 0: under transparent pixels
    palette += sorted(counts, key=lambda c: (-counts[c], c))[:255]
    index = {}
    for c in counts:
        index[c] = min(range(len(palette)),
                       key=lambda i: sum((a - b) ** 2 for a, b in zip(c, palette[i])))
    return palette, index


def image_bytes(size):
    rows = render(size)
    palette, index = build_palette(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    colours += b'\0' * (4 * (256 - len(palette)))
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        pixels += bytes(0 if c is None else index[c] for c in row)
        pixels += b'\0' * ((4 - size % 4) % 4)
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colours + bytes(pixels) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [image_bytes(size) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
