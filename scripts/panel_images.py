#!/usr/bin/env python3
"""Draws the control panel's images (tray icon on/off, tray-menu bitmaps) as PNG files.

Only the standard library: pixels are drawn into lists and written with zlib. Run it from the
repository root; it rewrites resources/panel/*.png.
"""
import math
import os
import struct
import sys
import zlib

GREY = (192, 192, 192)   # the menu bitmaps' background, replaced by the row colour in the page
BLACK = (0, 0, 0)
DARK = (128, 128, 128)
WHITE = (255, 255, 255)


def write_png(path, width, height, rows, alpha):
    """rows: list of rows, each a list of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw.extend(pixel[:4] if alpha else pixel[:3])
    colour_type = 6 if alpha else 2

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', width, height, 8, colour_type, 0, 0, 0)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as out:
        out.write(png)


# Menu bitmaps: a character grid, one character per pixel.
PALETTE = {'.': GREY, 'k': BLACK, 'd': DARK, 'w': WHITE}

START_RECORDER = [  # 16x15: a round record button
    '................',
    '................',
    '.....dddddd.....',
    '....dwwwwwwk....',
    '...dwwkkkkwwk...',
    '..dwwkkkkkkwdk..',
    '..dwkkkkkkkkdk..',
    '..dwkkkkkkkkdk..',
    '..dwkkkkkkkkdk..',
    '..dwkkkkkkkkdk..',
    '..dwdkkkkkkddk..',
    '...dwddkkdddk...',
    '....kddddddk....',
    '.....kkkkkk.....',
    '................',
]

PAUSE_RECORDER = [  # 16x15: two bars
    '................',
    '................',
    '...wwwd..wwwd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...wkkd..wkkd...',
    '...dddd..dddd...',
    '................',
    '................',
]

STOP_RECORDER = [  # 16x15: a square
    '................',
    '................',
    '...wwwwwwwwwd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wkkkkkkkkd...',
    '...wdddddddd....',
    '....dddddddd....',
    '................',
    '................',
]

SAVE_RECORD = [  # 13x12: a floppy disk
    'kkkkkkkkkkkk.',
    'kdkwwwwwwkdk.',
    'kdkwwwwwwkdk.',
    'kdkwwwwwwkdk.',
    'kdkkkkkkkkdk.',
    'kddddddddddk.',
    'kddkkkkkkddk.',
    'kddkwwkddddk.',
    'kddkwwkddddk.',
    'kddkwwkddddk.',
    '.kkkkkkkkkkk.',
    '.............',
]


def grid_png(path, grid, width, height):
    assert len(grid) == height and all(len(line) == width for line in grid), path
    write_png(path, width, height, [[PALETTE[c] for c in line] for line in grid], alpha=False)


def coverage(inside, x, y, samples=4):
    """Fraction of the pixel (x, y) for which inside(px, py) holds, by supersampling."""
    hits = 0
    for sy in range(samples):
        for sx in range(samples):
            if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def in_polygon(points, px, py):
    inside = False
    for i, (x1, y1) in enumerate(points):
        x2, y2 = points[(i + 1) % len(points)]
        if (y1 > py) != (y2 > py) and px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def blend(under, over, amount):
    return tuple(round(u + (o - u) * amount) for u, o in zip(under, over))


def tray_icon(path, size, top, bottom, funnel, slash):
    """A rounded disc with a vertical gradient holding a white funnel; slash crosses it out."""
    centre = size / 2
    radius = size / 2 - 1
    scale = size / 32
    funnel_shape = [(x * scale, y * scale) for x, y in
                    [(7, 8), (25, 8), (18, 17), (18, 25), (14, 27), (14, 17)]]

    def in_disc(px, py):
        return (px - centre) ** 2 + (py - centre) ** 2 <= radius ** 2

    def in_slash(px, py):
        # A band from the top right to the bottom left, 3.5 pixels wide at 32 pixels.
        distance = abs((px - centre) + (py - centre)) / math.sqrt(2)
        return distance <= 1.75 * scale and in_disc(px, py)

    rows = []
    for y in range(size):
        row = []
        ramp = blend(top, bottom, y / (size - 1))
        for x in range(size):
            disc = coverage(in_disc, x, y)
            pixel = blend(ramp, funnel, coverage(lambda a, b: in_polygon(funnel_shape, a, b), x, y))
            if slash:
                pixel = blend(pixel, slash, coverage(in_slash, x, y))
            row.append(pixel + (round(255 * disc),))
        rows.append(row)
    write_png(path, size, size, rows, alpha=True)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else 'resources/panel'
    os.makedirs(root, exist_ok=True)
    grid_png(os.path.join(root, 'icon-recorder-start.png'), START_RECORDER, 16, 15)
    grid_png(os.path.join(root, 'icon-recorder-pause.png'), PAUSE_RECORDER, 16, 15)
    grid_png(os.path.join(root, 'icon-recorder-stop.png'), STOP_RECORDER, 16, 15)
    grid_png(os.path.join(root, 'icon-save-record.png'), SAVE_RECORD, 13, 12)
    tray_icon(os.path.join(root, 'icon-on.png'), 32, (120, 150, 255), (40, 60, 200),
              (255, 255, 255), None)
    tray_icon(os.path.join(root, 'icon-off.png'), 32, (190, 190, 190), (120, 120, 120),
              (235, 235, 235), (200, 40, 40))


if __name__ == '__main__':
    main()
