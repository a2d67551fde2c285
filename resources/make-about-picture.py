#!/usr/bin/env python3
# Draws the about box picture (278 x 174, 256-colour palette) and writes it as resources/about.png.
# Standard library only; run it again after changing the drawing: python3 resources/make-about-picture.py
import os
import struct
import zlib

W, H = 278, 174
pixels = [[(0, 0, 0)] * W for _ in range(H)]


def rect(x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(H, y1)):
        row = pixels[y]
        for x in range(max(0, x0), min(W, x1)):
            row[x] = colour


def hline(x0, x1, y, colour):
    rect(x0, y, x1, y + 1, colour)


def vline(x, y0, y1, colour):
    rect(x, y0, x + 1, y1, colour)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


# Background: a night-blue to teal gradient in 64 bands, with a soft horizon glow.
top, bottom = (0, 0, 72), (0, 104, 128)
for y in range(H):
    band = (y * 64) // H
    rect(0, y, W, y + 1, mix(top, bottom, band / 63))
for i, y in enumerate(range(118, 126)):
    rect(0, y, W, y + 1, mix((0, 104, 128), (96, 200, 208), (8 - i) / 16))

# A worksheet with its shadow: header row, row numbers, grid and figures in the cells.
sx0, sy0, sx1, sy1 = 18, 16, 168, 150
rect(sx0 + 5, sy0 + 5, sx1 + 5, sy1 + 5, (0, 0, 32))
rect(sx0, sy0, sx1, sy1, (255, 255, 255))
rect(sx0, sy0, sx1, sy0 + 12, (192, 192, 192))
rect(sx0, sy0, sx0 + 16, sy1, (192, 192, 192))
for y in range(sy0, sy1, 12):
    hline(sx0, sx1, y, (128, 128, 128))
for x in [sx0, sx0 + 16, sx0 + 50, sx0 + 84, sx0 + 118, sx1 - 1]:
    vline(x, sy0, sy1, (128, 128, 128))
hline(sx0, sx1, sy1 - 1, (128, 128, 128))
figures = [(3, 2, 4), (4, 1, 3), (2, 4, 4), (4, 3, 2), (3, 3, 4), (1, 4, 3), (4, 2, 4), (2, 3, 3), (4, 4, 1), (3, 1, 4)]
for r, widths in enumerate(figures):
    y = sy0 + 12 * (r + 1) + 5
    for c, digits in enumerate(widths):
        x_right = sx0 + 16 + 34 * (c + 1) - 4
        colour = (0, 0, 128) if c == 2 else (32, 32, 32)
        for d in range(digits):
            rect(x_right - 5 * (d + 1), y, x_right - 5 * d - 1, y + 3, colour)
# Column letters and row numbers as small marks in the headers.
for c in range(4):
    rect(sx0 + 16 + 34 * c + 15, sy0 + 4, sx0 + 16 + 34 * c + 19, sy0 + 8, (64, 64, 64))
for r in range(10):
    rect(sx0 + 6, sy0 + 12 * (r + 1) + 4, sx0 + 10, sy0 + 12 * (r + 1) + 8, (64, 64, 64))
# The selected cell.
rect(sx0 + 84, sy0 + 48, sx0 + 119, sy0 + 50, (0, 0, 0))
rect(sx0 + 84, sy0 + 60, sx0 + 119, sy0 + 62, (0, 0, 0))
rect(sx0 + 84, sy0 + 48, sx0 + 86, sy0 + 62, (0, 0, 0))
rect(sx0 + 117, sy0 + 48, sx0 + 119, sy0 + 62, (0, 0, 0))

# A report card over the sheet's corner: a bar chart with lit and shaded faces.
cx0, cy0, cx1, cy1 = 132, 56, 262, 162
rect(cx0 + 5, cy0 + 5, cx1 + 5, cy1 + 5, (0, 0, 32))
rect(cx0, cy0, cx1, cy1, (224, 224, 224))
hline(cx0, cx1, cy0, (255, 255, 255))
vline(cx0, cy0, cy1, (255, 255, 255))
hline(cx0, cx1, cy1 - 1, (96, 96, 96))
vline(cx1 - 1, cy0, cy1, (96, 96, 96))
rect(cx0 + 4, cy0 + 4, cx1 - 4, cy0 + 14, (0, 0, 128))
rect(cx0 + 8, cy0 + 7, cx0 + 60, cy0 + 11, (0, 255, 255))
base = cy1 - 12
vline(cx0 + 12, cy0 + 22, base + 1, (0, 0, 0))
hline(cx0 + 12, cx1 - 8, base, (0, 0, 0))
bars = [(28, (0, 200, 200)), (46, (0, 160, 255)), (38, (255, 208, 0)), (62, (0, 220, 120)), (54, (255, 96, 64))]
for i, (height, colour) in enumerate(bars):
    x = cx0 + 20 + i * 21
    lit = mix(colour, (255, 255, 255), 0.45)
    dark = mix(colour, (0, 0, 0), 0.45)
    rect(x, base - height, x + 14, base, colour)
    rect(x, base - height, x + 14, base - height + 2, lit)
    rect(x + 14, base - height + 3, x + 18, base, dark)
    for k in range(4):
        rect(x + 14 + k, base - height + 3 - k, x + 15 + k, base - height + 4 - k, dark)
    rect(x + 1, base - height - 4, x + 15, base - height, mix(colour, (255, 255, 255), 0.25))

# A few stars in the night sky on the right.
for (x, y) in [(190, 10), (214, 24), (240, 8), (262, 30), (226, 44), (180, 36), (252, 50)]:
    rect(x, y, x + 2, y + 2, (255, 255, 255))
    rect(x - 1, y, x, y + 2, (160, 200, 255))
    rect(x + 2, y, x + 3, y + 2, (160, 200, 255))

# Palette: every colour used, at most 256.
palette = {}
for row in pixels:
    for colour in row:
        palette.setdefault(colour, len(palette))
assert len(palette) <= 256, len(palette)
entries = sorted(palette, key=palette.get)
entries += [(0, 0, 0)] * (256 - len(entries))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


raw = b"".join(b"\x00" + bytes(palette[c] for c in row) for row in pixels)
png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 3, 0, 0, 0))
png += chunk(b"PLTE", b"".join(bytes(c) for c in entries))
png += chunk(b"IDAT", zlib.compress(raw, 9))
png += chunk(b"IEND", b"")

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "about.png")
with open(out, "wb") as f:
    f.write(png)
print(f"{out}: {W} x {H}, {len(palette)} colours used of 256")
