#!/usr/bin/env python3
# Draws the main window's pictures into resources/mainform/: the five 16 x 16 tool bar glyphs
# (normal and disabled, 16 colours) and the 47 x 26 light grey background tile. Standard library
# only; run it again after changing a drawing below: python3 resources/make-mainform-pictures.py
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "mainform")

# The sixteen colours the glyphs may use; "." is transparent.
PALETTE = {
    "k": (0, 0, 0), "r": (128, 0, 0), "G": (0, 128, 0), "o": (128, 128, 0),
    "n": (0, 0, 128), "p": (128, 0, 128), "t": (0, 128, 128), "g": (128, 128, 128),
    "s": (192, 192, 192), "R": (255, 0, 0), "L": (0, 255, 0), "y": (255, 255, 0),
    "b": (0, 0, 255), "m": (255, 0, 255), "c": (0, 255, 255), "w": (255, 255, 255),
}

GLYPHS = {
    # A blank sheet with a folded corner.
    "new": """
................
...kkkkkkkk.....
...kwwwwwwkk....
...kwwwwwwkwk...
...kwwwwwwkkkk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kwwwwwwwwwk..
...kkkkkkkkkkk..
................
""",
    # An open folder.
    "open": """
................
................
................
.kkkk...........
kyyyyk..........
kyyyyykkkkkkk...
kyyyyyyyyyyyk...
kyyyykkkkkkkkkkk
kyyykoooooooook.
kyykoooooooook..
kyykoooooooook..
kykoooooooook...
kykoooooooook...
kkoooooooook....
kkkkkkkkkkkk....
................
""",
    # A diskette with its label and shutter.
    "save": """
................
.kkkkkkkkkkkkkk.
.knkwwwwwwwwknk.
.knkwwwwwwwwknk.
.knkwwwwwwwwknk.
.knkwwwwwwwwknk.
.knnkkkkkkkknnk.
.knnnnnnnnnnnnk.
.knnnnnnnnnnnnk.
.knnkkkkkkkknnk.
.knnkssggssknnk.
.knnkssggssknnk.
.knnkssggssknnk.
.kkkkkkkkkkkkkk.
................
................
""",
    # An empty workbook sheet: the template the blank builder makes.
    "blank": """
................
.kkkkkkkkkkkkkk.
.kGGGGGGGGGGGGk.
.kkkkkkkkkkkkkk.
.kwwwkwwwwkwwwk.
.kwwwkwwwwkwwwk.
.kkkkkkkkkkkkkk.
.kwwwkwwwwkwwwk.
.kwwwkwwwwkwwwk.
.kkkkkkkkkkkkkk.
.kwwwkwwwwkwwwk.
.kwwwkwwwwkwwwk.
.kkkkkkkkkkkkkk.
................
................
................
""",
    # A filled sheet with a column chart and a red arrow: the report being generated.
    "generate": """
................
.kkkkkkkkkkk....
.kwwwwwwwwwk....
.kwwwwwwwbwk....
.kwwwwwwwbwk....
.kwwwwbwwbwk....
.kwwwwbwwbwk....
.kwbwwbwwbwk.R..
.kwbwwbwwbwk.RR.
.kwbwwbwwbwRRRRR
.kwbwwbwwbwk.RR.
.kwwwwwwwwwk.R..
.kwwwwwwwwwk....
.kkkkkkkkkkk....
................
................
""",
}


def png(width, height, rows, alpha):
    """A PNG file: 8 bits per channel, RGB or RGBA, rows given as lists of tuples."""
    raw = b"".join(b"\x00" + b"".join(bytes(px) for px in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def parse(drawing):
    lines = [line for line in drawing.strip("\n").split("\n")]
    assert len(lines) == 16 and all(len(line) == 16 for line in lines), "glyphs are 16 x 16"
    return lines


def normal(lines):
    return [[PALETTE[ch] + (255,) if ch != "." else (0, 0, 0, 0) for ch in line] for line in lines]


def disabled(lines):
    """The usual engraved look: every dark pixel becomes grey with a white copy one step down-right;
    light pixels vanish."""
    dark = [[ch != "." and sum(PALETTE[ch]) < 3 * 192 for ch in line] for line in lines]
    out = [[(0, 0, 0, 0)] * 16 for _ in range(16)]
    for y in range(16):
        for x in range(16):
            if dark[y][x] and x + 1 < 16 and y + 1 < 16:
                out[y + 1][x + 1] = (255, 255, 255, 255)
    for y in range(16):
        for x in range(16):
            if dark[y][x]:
                out[y][x] = (128, 128, 128, 255)
    return out


def tile():
    """47 x 26 light grey texture: mostly 191 and 192, with sparse darker (188..190) and lighter
    (200..216) grains from a fixed pseudo-random sequence, so the file is the same on every run."""
    state = 20250611
    rows = []
    for _y in range(26):
        row = []
        for _x in range(47):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            r = (state >> 8) % 1000
            if r < 50:
                v = 188 + r % 3
            elif r < 90:
                v = 200 + r % 17
            else:
                v = 191 + (r & 1)
            row.append((v, v, v))
        rows.append(row)
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, drawing in GLYPHS.items():
        lines = parse(drawing)
        with open(os.path.join(OUT, name + ".png"), "wb") as f:
            f.write(png(16, 16, normal(lines), True))
        with open(os.path.join(OUT, name + "_disabled.png"), "wb") as f:
            f.write(png(16, 16, disabled(lines), True))
    with open(os.path.join(OUT, "tile.png"), "wb") as f:
        f.write(png(47, 26, tile(), False))


if __name__ == "__main__":
    main()
