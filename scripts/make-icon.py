#!/usr/bin/env python3
"""Draws the application icon: a white restore arrow on a blue rounded square.

Writes an .ico with the eight images the window carries: 48, 32 and 16 pixels with 256
colours, and 128, 48, 32, 24 and 16 pixels with 32-bit colour. The 128-pixel image is stored
as PNG, which Windows reads in icons since Vista: as a bitmap it alone would take 66 KB of the
program. Pure Python, so it runs anywhere, and the same every time:
python3 scripts/make-icon.py platform/win32/resources/TEST.ico
"""
import math
import struct
import sys
import zlib

SAMPLES = 4  # per axis, for anti-aliasing


def rounded_square(x, y, inset=0.04, radius=0.2):
    lo, hi = inset, 1 - inset
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


CENTRE = (0.5, 0.53)
RING_RADIUS = 0.27
RING_HALF_WIDTH = 0.055
ARC_START = math.radians(60)   # the gap sits at the upper right
ARC_END = math.radians(330)


def arrow(x, y):
    dx, dy = x - CENTRE[0], CENTRE[1] - y
    angle = math.atan2(dy, dx) % (2 * math.pi)
    distance = math.hypot(dx, dy)
    on_ring = abs(distance - RING_RADIUS) <= RING_HALF_WIDTH and ARC_START <= angle <= ARC_END
    if on_ring:
        return True
    # Arrowhead at the start of the arc, pointing along it (counter-clockwise travel ends here).
    tip_angle = ARC_START - math.radians(28)
    base_angle = ARC_START + math.radians(4)
    outer = RING_RADIUS + 2.4 * RING_HALF_WIDTH
    inner = RING_RADIUS - 2.4 * RING_HALF_WIDTH

    def point(r, a):
        return (CENTRE[0] + r * math.cos(a), CENTRE[1] - r * math.sin(a))

    triangle = [point(RING_RADIUS, tip_angle), point(outer, base_angle), point(inner, base_angle)]
    return inside_triangle((x, y), *triangle)


def inside_triangle(p, a, b, c):
    def side(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])

    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            square = white = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if rounded_square(x, y):
                        square += 1
                        if arrow(x, y):
                            white += 1
            n = SAMPLES * SAMPLES
            alpha = square / n
            if square == 0:
                row.append((0, 0, 0, 0))
                continue
            t = py / max(size - 1, 1)
            top, bottom = (58, 123, 200), (28, 74, 134)
            blue = [int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)]
            mix = white / square
            colour = [int(blue[i] + (255 - blue[i]) * mix) for i in range(3)]
            row.append((*colour, int(round(alpha * 255))))
        rows.append(row)
    return rows


def palette_256():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(int(i * 255 / 39),) * 3 for i in range(40)]
    return colours


def nearest(colour, palette, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)),
                            key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))
    return cache[colour]


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def image_32(rows, size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    return header + bytes(pixels) + and_mask(rows, size)


def png_32(rows, size):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    raw = b''.join(b'\0' + bytes(channel for pixel in row for channel in pixel) for row in rows)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def image_8(rows, size):
    palette = palette_256()
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    stride = (size + 3) // 4 * 4
    cache = {}
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            line[x] = nearest((r, g, b), palette, cache) if a >= 128 else 0
        pixels += line
    return header + table + bytes(pixels) + and_mask(rows, size)


def main(path):
    images = []
    for size in (48, 32, 16):
        images.append((size, 8, image_8(render(size), size)))
    images.append((128, 32, png_32(render(128), 128)))
    for size in (48, 32, 24, 16):
        images.append((size, 32, image_32(render(size), size)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, _, data in images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
