#!/usr/bin/env python3
"""Draws the launcher's icon and writes it as a Windows .ico file.

The artwork is a blue rounded tile with a white arrow dropping into a tray:
files coming out of the carrier. It is drawn twice, 16x16 and 32x32, each an
8-bit image with a 256-entry palette shared by both sizes and a 1-bit
transparency mask.

Everything here is plain integer and float arithmetic in a fixed order, so
the same script always writes the same bytes; the build checks that the
committed launcher.ico is exactly what this script draws.

    draw_icon.py OUT.ico          write the icon
    draw_icon.py --check ICO      exit 1 unless ICO holds exactly these bytes
"""

import struct
import sys

SIZES = (16, 32)
DESIGN = 32.0  # shapes are described on a 32x32 grid
SAMPLES = 8  # per axis, per pixel

TILE = (2.0, 2.0, 30.0, 30.0)
TILE_RADIUS = 6.0
TILE_TOP = (86, 170, 240)
TILE_BOTTOM = (22, 74, 160)
BORDER = (14, 46, 104)
WHITE = (255, 255, 255)


def inside_rounded_rect(x, y, rect, radius):
    left, top, right, bottom = rect
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    dx, dy = x - cx, y - cy
    return dx * dx + dy * dy <= radius * radius


def inside_arrow(x, y):
    if 14.0 <= x < 18.0 and 4.0 <= y < 12.0:
        return True
    # Head: a triangle from (8, 12) and (24, 12) down to its tip at (16, 20).
    if 12.0 <= y < 20.0:
        return abs(x - 16.0) < 20.0 - y
    return False


def inside_tray(x, y):
    if 8.0 <= x < 24.0 and 22.0 <= y < 26.0:
        return True
    return (8.0 <= x < 12.0 or 20.0 <= x < 24.0) and 16.0 <= y < 26.0


def tile_colour(y):
    t = (y - TILE[1]) / (TILE[3] - TILE[1])
    return tuple(a + (b - a) * t for a, b in zip(TILE_TOP, TILE_BOTTOM))


def sample(x, y, border):
    """The colour at a design point, or None where the icon is transparent."""
    if not inside_rounded_rect(x, y, TILE, TILE_RADIUS):
        return None
    inner = (TILE[0] + border, TILE[1] + border, TILE[2] - border, TILE[3] - border)
    if not inside_rounded_rect(x, y, inner, TILE_RADIUS - border):
        return BORDER
    if inside_arrow(x, y) or inside_tray(x, y):
        return WHITE
    return tile_colour(y)


def render(size):
    """Rows of (r, g, b) or None, top row first."""
    scale = DESIGN / size
    border = scale  # one output pixel wide at every size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            covered = []
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = sample(x, y, border)
                    if colour is not None:
                        covered.append(colour)
            if 2 * len(covered) < SAMPLES * SAMPLES:
                row.append(None)
            else:
                row.append(tuple(int(sum(c[i] for c in covered) / len(covered) + 0.5)
                                 for i in range(3)))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """At most count representative colours for a list of (r, g, b)."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        splittable = [b for b in boxes if len(b) > 1]
        if not splittable:
            break
        box = max(splittable, key=lambda b: (channel_range(b)[0], len(b)))
        boxes.remove(box)
        _, channel = channel_range(box)
        box.sort(key=lambda c: (c[channel], c))
        middle = len(box) // 2
        boxes += [box[:middle], box[middle:]]
    return sorted(tuple(sum(c[i] for c in b) // len(b) for i in range(3)) for b in boxes)


def channel_range(box):
    spans = [max(c[i] for c in box) - min(c[i] for c in box) for i in range(3)]
    widest = max(range(3), key=lambda i: (spans[i], -i))
    return spans[widest], widest


def nearest(palette, colour):
    best, best_distance = 0, None
    for index, entry in enumerate(palette):
        distance = sum((a - b) * (a - b) for a, b in zip(entry, colour))
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def build_palette(images):
    # Entry 0 is black: a transparent pixel's colour is XORed onto the
    # screen, so it must be zero to leave the screen untouched.
    used = [c for rows in images for row in rows for c in row if c is not None]
    palette = [(0, 0, 0)] + median_cut(used, 255)
    return palette + [(0, 0, 0)] * (256 - len(palette))


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def encode_image(rows, palette):
    size = len(rows)
    colour_stride = row_bytes(size * 8)
    mask_stride = row_bytes(size)
    colour_data = bytearray()
    mask_data = bytearray()
    for row in reversed(rows):  # bottom-up, as a DIB
        colour_row = bytearray(colour_stride)
        mask_row = bytearray(mask_stride)
        for x, colour in enumerate(row):
            if colour is None:
                mask_row[x // 8] |= 0x80 >> (x % 8)
            else:
                colour_row[x] = nearest(palette, colour)
        colour_data += colour_row
        mask_data += mask_row
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0,
                         len(colour_data) + len(mask_data), 0, 0, 256, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + colours + bytes(colour_data) + bytes(mask_data)


def icon_bytes():
    images = [render(size) for size in SIZES]
    palette = build_palette(images)
    encoded = [encode_image(rows, palette) for rows in images]
    out = bytearray(struct.pack('<HHH', 0, 1, len(encoded)))
    offset = 6 + 16 * len(encoded)
    for size, data in zip(SIZES, encoded):
        # A colour count of 0 in the directory means 256.
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    for data in encoded:
        out += data
    return bytes(out)


def main(argv):
    if len(argv) == 3 and argv[1] == '--check':
        with open(argv[2], 'rb') as f:
            committed = f.read()
        if committed != icon_bytes():
            print(f'{argv[2]} differs from what {argv[0]} draws; '
                  f'regenerate it with: {argv[0]} {argv[2]}', file=sys.stderr)
            return 1
        return 0
    if len(argv) == 2 and not argv[1].startswith('-'):
        with open(argv[1], 'wb') as f:
            f.write(icon_bytes())
        return 0
    print('usage: draw_icon.py OUT.ico | draw_icon.py --check ICO', file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
