#!/usr/bin/env python3
"""Writes the application icon: three 256-colour BMP-format images (128, 48, 32 px).

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (128, 48, 32)
SUPERSAMPLE = 4

BACKGROUND = (45, 45, 48)
ACCENT = (0, 122, 204)
WHITE = (255, 255, 255)


def build_palette():
    """256 colours: blends between the three base colours, black first."""
    palette = [(0, 0, 0)]
    steps = 85
    for start, end in ((BACKGROUND, ACCENT), (ACCENT, WHITE), (BACKGROUND, WHITE)):
        for i in range(steps):
            t = i / (steps - 1)
            palette.append(tuple(round(a + (b - a) * t) for a, b in zip(start, end)))
    return palette[:256]


def inside_rounded_square(x, y, radius):
    """x, y in 0..1; a square with rounded corners filling the image."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def shade(x, y):
    """Colour of the design at x, y (0..1), or None outside it."""
    if not inside_rounded_square(x, y, 0.18):
        return None
    # A downward arrow over a tray: the sign of an installer.
    if 0.42 <= x <= 0.58 and 0.16 <= y <= 0.50:
        return WHITE
    if 0.46 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.05:
        return WHITE
    in_tray = 0.72 <= y <= 0.82 and 0.2 <= x <= 0.8
    in_walls = 0.58 <= y <= 0.82 and (0.2 <= x <= 0.28 or 0.72 <= x <= 0.8)
    if in_tray or in_walls:
        return ACCENT
    return BACKGROUND


def render(size, palette):
    cache = {}

    def nearest(colour):
        if colour not in cache:
            cache[colour] = min(range(1, len(palette)),
                                key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))
        return cache[colour]

    pixels, mask = [], []
    n = SUPERSAMPLE
    for row in range(size):
        pixel_row, mask_row = [], []
        for col in range(size):
            samples = []
            for sy in range(n):
                for sx in range(n):
                    samples.append(shade((col + (sx + 0.5) / n) / size, (row + (sy + 0.5) / n) / size))
            covered = [s for s in samples if s is not None]
            if len(covered) * 2 < len(samples):
                pixel_row.append(0)
                mask_row.append(1)
                continue
            colour = tuple(round(sum(c[i] for c in covered) / len(covered)) for i in range(3))
            pixel_row.append(nearest(colour))
            mask_row.append(0)
        pixels.append(pixel_row)
        mask.append(mask_row)
    return pixels, mask


def image_bytes(size, palette):
    pixels, mask = render(size, palette)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    colours += b'\0' * (4 * (256 - len(palette)))
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    and_bits = bytearray()
    for row in reversed(range(size)):  # bottom-up rows
        xor += bytes(pixels[row]) + b'\0' * (xor_stride - size)
        line = bytearray(and_stride)
        for col, transparent in enumerate(mask[row]):
            if transparent:
                line[col // 8] |= 0x80 >> (col % 8)
        and_bits += line
    return header + colours + bytes(xor) + bytes(and_bits)


def main():
    palette = build_palette()
    images = [image_bytes(size, palette) for size in SIZES]
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
