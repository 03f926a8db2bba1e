#!/usr/bin/env python3
"""Draws VELK's built-in artwork from the pixel grids below and writes the PNG files in
resources/: the companion pet (VELKPet.png) and the logo (VELKLogo.png).

Edit a grid, run `python3 scripts/make-artwork.py`, and commit the regenerated files.
Each character of a grid is one art pixel, drawn as a SCALE x SCALE square; "." is fully
transparent so the artwork blends into the desktop. Only the standard library is used.
"""

import os
import struct
import zlib

PALETTE = {
    ".": (0, 0, 0, 0),
    "K": (16, 20, 34, 255),  # outline
    "H": (0, 217, 255, 255),  # helmet, VELK cyan
    "h": (0, 150, 190, 255),  # helmet shade
    "S": (250, 214, 170, 255),  # skin
    "s": (222, 170, 130, 255),  # skin shade
    "E": (16, 20, 34, 255),  # eyes
    "W": (255, 255, 255, 255),  # eye shine, blade
    "A": (120, 96, 220, 255),  # armour
    "a": (86, 64, 180, 255),  # armour shade
    "G": (255, 196, 60, 255),  # gold trim, hilt
    "B": (190, 200, 215, 255),  # blade
    "R": (255, 120, 150, 255),  # cheeks
    "L": (70, 56, 110, 255),  # legs
}

# A small helmeted warrior holding a sword, 22 x 23 art pixels.
PET = """
......................
.........KKKK.........
........KHHHHK........
.......KHHHHHHK.......
......KHHWHHHHhK......
......KHHHHHHHhK......
.....KKKKKKKKKKKK.....
.....KSSSSSSSSSsK.....
.....KSEWSSSSEWsK.....
.....KSEESSSSEEsK.....
.....KRSSSSSSSRsK..K..
......KSSSKKSSsK..KWK.
.......KKSSSSKK...KBK.
......KAAKKKKAaK..KBK.
.....KAAGAAAAGAaK.KBK.
....KSKAAGGGGAAaKKGGGK
....KSKAAAAAAAAaKSKGK.
.....KKAAAGGAAAaKSsK..
......KAAAAAAAAaKKK...
......KLLLKKKLLLK.....
......KLLLK.KLLLK.....
.....KKKKKK.KKKKKK....
......................
"""

# "VELK" in blocky letters with a cyan underline, 27 x 9 art pixels.
LOGO = """
HH...HH.HHHHH.HH.....HH..HH
HH...HH.HH....HH.....HH.HH.
HH...HH.HH....HH.....HHHH..
.HH.HH..HHHH..HH.....HHH...
.HH.HH..HH....HH.....HHHH..
..HHH...HH....HH.....HH.HH.
...H....HHHHH.HHHHH..HH..HH
...........................
hhhhhhhhhhhhhhhhhhhhhhhhhhh
"""


def rows_of(grid):
    """The grid's rows, padded to one width and framed by one transparent art pixel, so
    every corner of the image is see-through whatever the drawing touches."""
    rows = [line for line in grid.strip("\n").split("\n")]
    width = max(len(row) for row in rows)
    blank = "." * (width + 2)
    return [blank] + ["." + row.ljust(width, ".") + "." for row in rows] + [blank]


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, grid, scale):
    rows = rows_of(grid)
    width, height = len(rows[0]) * scale, len(rows) * scale
    raw = bytearray()
    for row in rows:
        line = bytearray([0])  # filter type: none
        for symbol in row:
            line += bytes(PALETTE[symbol]) * scale
        raw += bytes(line) * scale
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    data = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(data)
    print(f"{path}: {width} x {height}")


def main():
    resources = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    os.makedirs(resources, exist_ok=True)
    write_png(os.path.join(resources, "VELKPet.png"), PET, 7)
    write_png(os.path.join(resources, "VELKLogo.png"), LOGO, 8)


if __name__ == "__main__":
    main()
