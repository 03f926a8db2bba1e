#!/usr/bin/env python3
"""Turns tmux's `capture-pane -p -e -N` output into the text and attribute files of a
terminal recording (see tools/record-terminal-programs.sh for their format), and writes the
window title the program left, if any.

    record-terminal-capture.py CAPTURE ROWS TEXT-OUT ATTRS-OUT BYTES TMUX-TITLE TITLE-OUT [REDRAW]

REDRAW, the JSON of tools/record-terminal-redraw.py, gives the cells after the last one
capture-pane reports on each row; it is used where it agrees with the capture on the text
and on the colours of the cells both report.

TMUX-TITLE holds tmux's #{pane_title}, cleared before the program started. tmux 3.3 also
takes APC strings (ESC _ … ST) as titles, as GNU screen did, where xterm ignores them; for
output holding any, the title is read from the bytes instead: the last OSC 0 or 2, with
CSI 22 t / CSI 23 t pushing and popping it.
"""
import json
import os
import re
import sys
import unicodedata

# tmux keeps DEC line-drawing cells as ASCII and marks them with SO/SI in its capture.
LINE_DRAWING = dict(zip("_`abcdefghijklmnopqrstuvwxyz{|}~",
                        "\u00a0\u25c6\u2592\u2409\u240c\u240d\u240a\u00b0\u00b1\u2424\u240b"
                        "\u2518\u2510\u250c\u2514\u253c\u23ba\u23bb\u2500\u23bc\u23bd\u251c"
                        "\u2524\u2534\u252c\u2502\u2264\u2265\u03c0\u2260\u00a3\u00b7"))
SGR = re.compile(r"\x1b\[([0-9;:]*)m")
FLAG_ORDER = "fbBDIURS"


class Style:
    def __init__(self):
        self.reset()

    def reset(self):
        self.foreground = self.background = False
        self.bold = self.dim = self.italic = self.underline = False
        self.inverse = self.strikethrough = False

    def apply(self, text):
        params = [p.split(":") for p in (text or "0").split(";")]
        i = 0
        while i < len(params):
            code = int(params[i][0] or 0)
            sub = params[i][1:]
            if code == 0:
                self.reset()
            elif code == 1:
                self.bold = True
            elif code == 2:
                self.dim = True
            elif code == 3:
                self.italic = True
            elif code == 4:
                self.underline = not sub or sub[0] not in ("", "0")
            elif code == 7:
                self.inverse = True
            elif code == 9:
                self.strikethrough = True
            elif code == 21:
                self.underline = True
            elif code == 22:
                self.bold = self.dim = False
            elif code == 23:
                self.italic = False
            elif code == 24:
                self.underline = False
            elif code == 27:
                self.inverse = False
            elif code == 29:
                self.strikethrough = False
            elif 30 <= code <= 37 or 90 <= code <= 97:
                self.foreground = True
            elif code == 39:
                self.foreground = False
            elif 40 <= code <= 47 or 100 <= code <= 107:
                self.background = True
            elif code == 49:
                self.background = False
            elif code in (38, 48, 58):
                if not sub and i + 1 < len(params):  # semicolon form: 5;N or 2;R;G;B follow
                    i += 2 if params[i + 1][0] == "5" else 4
                if code == 38:
                    self.foreground = True
                elif code == 48:
                    self.background = True
            i += 1

    def flags(self):
        values = [self.foreground, self.background, self.bold, self.dim, self.italic,
                  self.underline, self.inverse, self.strikethrough]
        return "".join(f for f, on in zip(FLAG_ORDER, values) if on) or "-"


def width(ch):
    if unicodedata.combining(ch) or unicodedata.category(ch) in ("Mn", "Me") \
            or ch in "\u200d\ufe0f":
        return 0
    return 2 if unicodedata.east_asian_width(ch) in "WF" else 1


def title_from_bytes(data):
    title, stack = "", []
    pattern = re.compile(rb"\x1b\]([02]);([^\x07\x1b]*)(?:\x07|\x1b\\)|\x1b\[(22|23)(?:;[02])?t")
    for match in pattern.finditer(data):
        if match.group(1) is not None:
            title = match.group(2).decode("utf-8", "replace")
        elif match.group(3) == b"22":
            stack.append(title)
        elif stack:
            title = stack.pop()
    return title


def write_title(bytes_file, tmux_title_file, title_out):
    data = open(bytes_file, "rb").read()
    title = open(tmux_title_file, encoding="utf-8").read()
    title = title[:-1] if title.endswith("\n") else title
    if b"\x1b_" in data:
        title = title_from_bytes(data)
    if title:
        with open(title_out, "w", encoding="utf-8") as out:
            out.write(title + "\n")
    elif os.path.exists(title_out):
        os.remove(title_out)


def colours(flags):
    return "".join(f for f in flags if f in "fb")


def extend(texts, rows_cells, redraw, name):
    """Completes each row with the redraw's cells past the captured ones."""
    for row, (cells, drawn) in enumerate(zip(rows_cells, redraw["flags"])):
        if redraw["text"][row] != texts[row] or any(
                colours(a) != colours(b) for a, b in zip(cells, drawn)):
            print(f"warning: {name}: tmux's redraw differs from its capture in row {row};"
                  " rows keep the captured cells only", file=sys.stderr)
            return
    for cells, drawn in zip(rows_cells, redraw["flags"]):
        cells += drawn[len(cells):]


def main():
    capture, rows, text_out, attrs_out = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    write_title(*sys.argv[5:8])
    redraw = sys.argv[8] if len(sys.argv) > 8 else None
    lines = open(capture, encoding="utf-8").read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    style = Style()  # the SGR and SO/SI states run on from one line to the next
    drawing = False
    texts, rows_cells, attrs = [], [], []
    for line in lines[:rows]:
        text, cells = [], []
        position = 0
        for match in list(SGR.finditer(line)) + [None]:
            end = match.start() if match else len(line)
            for ch in line[position:end]:
                if ch == "\x0e":
                    drawing = True
                elif ch == "\x0f":
                    drawing = False
                else:
                    text.append(LINE_DRAWING.get(ch, ch) if drawing else ch)
                    cells += [style.flags()] * width(ch)
            if match:
                style.apply(match.group(1))
                position = match.end()
        texts.append("".join(text).rstrip())
        rows_cells.append(cells)
    texts += [""] * (rows - len(texts))
    rows_cells += [[] for _ in range(rows - len(rows_cells))]
    if redraw:
        extend(texts, rows_cells, json.load(open(redraw, encoding="utf-8")), attrs_out)
    for cells in rows_cells:
        runs = []
        for flags in cells:
            if runs and runs[-1][1] == flags:
                runs[-1][0] += 1
            else:
                runs.append([1, flags])
        attrs.append(" ".join(f"{count}*{flags}" for count, flags in runs))
    with open(text_out, "w", encoding="utf-8") as out:
        out.write("\n".join(texts) + "\n")
    with open(attrs_out, "w", encoding="utf-8") as out:
        out.write("\n".join(attrs) + "\n")


if __name__ == "__main__":
    main()
