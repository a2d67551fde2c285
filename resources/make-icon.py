#!/usr/bin/env python3
# Draws the program's icon (a report sheet with a header band, a grid and a small bar chart) and writes
# it as resources/icons/ledgerwick-48.png and -128.png. Standard library only; run it again after
# changing the drawing: python3 resources/make-icon.py
import os
import struct
import zlib

SIZES = (48, 128)
SS = 4  # samples per pixel along each axis, for smooth edges

# The drawing, in units of a 64 x 64 canvas: each shape is (kind, geometry, RGBA colour), painted in order.
SHAPES = [
    # Shadow, sheet and its border.
    ("round", (9, 7, 59, 61, 5), (0, 0, 0, 60)),
    ("round", (6, 4, 56, 58, 5), (70, 84, 104, 255)),
    ("round", (7, 5, 55, 57, 4), (250, 251, 253, 255)),
    # Header band of the report.
    ("round", (7, 5, 55, 17, 4), (31, 78, 140, 255)),
    ("rect", (7, 12, 55, 17), (31, 78, 140, 255)),
    ("rect", (11, 9, 33, 12), (214, 228, 246, 255)),
    # Grid: column rules and row rules.
    ("rect", (20, 17, 21, 53), (186, 200, 220, 255)),
    ("rect", (36, 17, 37, 53), (186, 200, 220, 255)),
    ("rect", (7, 24, 55, 25), (186, 200, 220, 255)),
    ("rect", (7, 31, 55, 32), (186, 200, 220, 255)),
    ("rect", (7, 38, 55, 39), (186, 200, 220, 255)),
    ("rect", (7, 45, 55, 46), (186, 200, 220, 255)),
    # Figures in the first column.
    ("rect", (10, 20, 18, 22), (120, 132, 150, 255)),
    ("rect", (10, 27, 16, 29), (120, 132, 150, 255)),
    ("rect", (10, 34, 18, 36), (120, 132, 150, 255)),
    ("rect", (10, 41, 15, 43), (120, 132, 150, 255)),
    # Bar chart over the right-hand cells.
    ("round", (25, 39, 31, 53, 1), (46, 160, 90, 255)),
    ("round", (33, 31, 39, 53, 1), (46, 160, 90, 255)),
    ("round", (41, 23, 47, 53, 1), (240, 150, 30, 255)),
    # Base line under the bars.
    ("rect", (23, 52, 51, 54), (70, 84, 104, 255)),
]


def inside(kind, g, x, y):
    if kind == "rect":
        x0, y0, x1, y1 = g
        return x0 <= x < x1 and y0 <= y < y1
    x0, y0, x1, y1, r = g
    if not (x0 <= x < x1 and y0 <= y < y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def over(dst, src):
    sa = src[3] / 255.0
    da = dst[3] / 255.0
    oa = sa + da * (1 - sa)
    if oa == 0:
        return (0.0, 0.0, 0.0, 0.0)
    rgb = [(src[i] * sa + dst[i] * da * (1 - sa)) / oa for i in range(3)]
    return (rgb[0], rgb[1], rgb[2], oa * 255.0)


def render(size):
    scale = 64.0 / (size * SS)
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    x = (px * SS + sx + 0.5) * scale
                    y = (py * SS + sy + 0.5) * scale
                    c = (0.0, 0.0, 0.0, 0.0)
                    for kind, g, colour in SHAPES:
                        if inside(kind, g, x, y):
                            c = over(c, colour)
                    # Premultiplied sums, so that edges against transparency keep their colour.
                    a = c[3]
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if acc[3] > 0:
                rgb = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [round(alpha)])
        rows.append(bytes(row))
    return rows


def write_png(path, size, rows):
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


here = os.path.dirname(os.path.abspath(__file__))
os.makedirs(os.path.join(here, "icons"), exist_ok=True)
for s in SIZES:
    write_png(os.path.join(here, "icons", "ledgerwick-%d.png" % s), s, render(s))
