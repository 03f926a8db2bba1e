#!/usr/bin/env python3
"""Draws VELK's application icon and writes the files the desktop menu uses into
packaging/icons: hicolor PNGs of every listed size and a scalable SVG.

The icon is the companion's helmeted head on a dark rounded tile, drawn from the grid below
with the palette of scripts/make-artwork.py, so both stay one artwork. Edit the grid, run
`python3 scripts/make-icons.py` and commit the regenerated files. Only the standard library
is used.
"""

import importlib.util
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ICON_NAME = "ai.kelo.velk"
# Every size is a whole multiple of the grid, so each art pixel stays a crisp square.
SIZES = (16, 32, 48, 64, 128, 256, 512)

source = importlib.util.spec_from_file_location("artwork", os.path.join(HERE, "make-artwork.py"))
artwork = importlib.util.module_from_spec(source)
source.loader.exec_module(artwork)

PALETTE = dict(artwork.PALETTE)
PALETTE["D"] = (28, 34, 58, 255)  # the tile
PALETTE["d"] = (40, 50, 84, 255)  # the tile's lit rim

# 16 x 16 art pixels; "." is transparent (the tile's rounded corners).
ICON = """
..dddddddddddd..
.dDDDDKKKKDDDDD.
dDDDDKHHHHKDDDDD
dDDDKHHWHHhKDDDD
dDDKHHHHHHHhKDDD
dDDKKKKKKKKKKDDD
dDDKSSSSSSSsKDDD
dDDKSEWSSEWsKDDD
dDDKSEESSEEsKDDD
dDDKRSSSSSRsKDDD
dDDDKSSKKSsKDDDD
dDDDDKKSSKKDDDDD
dDDDKAAKKAaKDDDD
dDDKAAGGGGAaKDDD
.DDKAAAGGAAaKDD.
..DDDDDDDDDDDD..
"""


def icon_rows():
    rows = ICON.strip("\n").split("\n")
    if len(rows) != 16 or any(len(row) != 16 for row in rows):
        raise SystemExit("the icon grid must be 16 x 16")
    return rows


def write_png(path, rows, size):
    scale = size // len(rows)
    raw = bytearray()
    for row in rows:
        line = bytearray([0])  # filter type: none
        for symbol in row:
            line += bytes(PALETTE[symbol]) * scale
        raw += bytes(line) * scale
    header = artwork.struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    data = (b"\x89PNG\r\n\x1a\n" + artwork.png_chunk(b"IHDR", header) +
            artwork.png_chunk(b"IDAT", artwork.zlib.compress(bytes(raw), 9)) +
            artwork.png_chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(data)


def write_svg(path, rows):
    """One rectangle per run of equal art pixels in a row; crisp edges at any size."""
    shapes = []
    for y, row in enumerate(rows):
        x = 0
        while x < len(row):
            symbol = row[x]
            end = x
            while end < len(row) and row[end] == symbol:
                end += 1
            if PALETTE[symbol][3] != 0:
                r, g, b, _ = PALETTE[symbol]
                shapes.append(f'  <rect x="{x}" y="{y}" width="{end - x}" height="1" '
                              f'fill="#{r:02x}{g:02x}{b:02x}"/>')
            x = end
    size = len(rows)
    with open(path, "w") as out:
        out.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{size * 8}" '
                  f'height="{size * 8}" viewBox="0 0 {size} {size}" '
                  f'shape-rendering="crispEdges">\n')
        out.write("\n".join(shapes) + "\n</svg>\n")


def main():
    rows = icon_rows()
    root = os.path.join(HERE, "..", "packaging", "icons", "hicolor")
    for size in SIZES:
        folder = os.path.join(root, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, ICON_NAME + ".png"), rows, size)
    scalable = os.path.join(root, "scalable", "apps")
    os.makedirs(scalable, exist_ok=True)
    write_svg(os.path.join(scalable, ICON_NAME + ".svg"), rows)
    print(f"wrote {len(SIZES)} PNG sizes and the scalable icon below {os.path.normpath(root)}")


if __name__ == "__main__":
    main()
