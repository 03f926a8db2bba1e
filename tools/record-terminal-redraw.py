#!/usr/bin/env python3
"""Reads tmux's whole screen by attaching a client and replaying what tmux draws to it, for
tools/record-terminal-programs.sh. `capture-pane` reports a row's cells only up to the last
one a program wrote; cells erased after it (in the background colour of the moment) are left
out. A client whose terminal cannot erase in colour (no `bce`, `ech` or `rep`) gets those
cells drawn as coloured spaces, so following cursor moves, SGR and text is enough to know
every cell.

    record-terminal-redraw.py SOCKET SESSION ROWS COLUMNS WORK OUT.json

Writes {"text": [row…], "flags": [[cell flags…]…]} with the flags of
tools/record-terminal-capture.py.
"""
import fcntl
import json
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
capture = __import__("record-terminal-capture")

TERMINFO = """velk-redraw|xterm-256color that erases only in the default colour,
\tbce@, ech@, rep@, use=xterm-256color,
"""


def read_client(socket, session, rows, columns, work):
    terminfo = os.path.join(work, "terminfo")
    if not os.path.isdir(terminfo):
        source = os.path.join(work, "velk-redraw.ti")
        with open(source, "w") as out:
            out.write(TERMINFO)
        subprocess.run(["tic", "-x", "-o", terminfo, source], check=True)
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        os.environ.update(TERM="velk-redraw", TERMINFO=terminfo, LANG="C.UTF-8",
                          LC_ALL="C.UTF-8")
        os.execvp("tmux", ["tmux", "-L", socket, "attach-session", "-r", "-t", session])
    data = b""
    deadline = time.monotonic() + 5
    quiet_since = time.monotonic()
    while time.monotonic() < deadline and time.monotonic() - quiet_since < 1:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            data += chunk
            quiet_since = time.monotonic()
    os.kill(pid, signal.SIGTERM)
    os.waitpid(pid, 0)
    return data


STRING = re.compile(rb"\x1b[]P_^X].*?(?:\x07|\x1b\\)", re.S)
CSI = re.compile(r"\x1b\[([?>=]?)([0-9;:]*)([ -/]*)([@-~])")


def replay(data, rows, columns):
    """The screen a terminal without background colour erase shows after `data`."""
    text = [[" "] * columns for _ in range(rows)]
    flags = [["-"] * columns for _ in range(rows)]
    style = capture.Style()
    row = column = 0
    pending = False
    last = None  # the cell combining marks join
    g0_drawing = g1_drawing = shifted = False
    stream = STRING.sub(b"", data).decode("utf-8", "replace")
    i = 0
    while i < len(stream):
        ch = stream[i]
        if ch == "\x1b":
            match = CSI.match(stream, i)
            if match:
                prefix, params, _, final = match.groups()
                i = match.end()
                numbers = [int(p.split(":")[0] or 0) for p in params.split(";")] if params else []
                first = numbers[0] if numbers else 0
                pending = pending and final == "m"
                if prefix:
                    continue
                if final in "Hf":
                    row = min(max((numbers[0] if numbers else 1) or 1, 1), rows) - 1
                    column = min(max((numbers[1] if len(numbers) > 1 else 1) or 1, 1), columns) - 1
                elif final == "m":
                    style.apply(params)
                elif final == "K":
                    span = {0: range(column, columns), 1: range(0, column + 1)}.get(first, range(columns))
                    for x in span:
                        text[row][x], flags[row][x] = " ", "-"
                elif final == "J":
                    lines = {0: range(row + 1, rows), 1: range(0, row)}.get(first, range(rows))
                    for y in lines:
                        text[y], flags[y] = [" "] * columns, ["-"] * columns
                    if first in (0, 1):
                        span = range(column, columns) if first == 0 else range(0, column + 1)
                        for x in span:
                            text[row][x], flags[row][x] = " ", "-"
                elif final == "C":
                    column = min(column + max(first, 1), columns - 1)
                elif final == "D":
                    column = max(column - max(first, 1), 0)
                elif final == "A":
                    row = max(row - max(first, 1), 0)
                elif final == "B":
                    row = min(row + max(first, 1), rows - 1)
                elif final == "G":
                    column = min(max(first, 1), columns) - 1
                elif final == "d":
                    row = min(max(first, 1), rows) - 1
                elif final in "@PLMSTXb":
                    raise ValueError(f"tmux drew with CSI {params}{final}, which this replay lacks")
                continue
            if stream.startswith(("\x1b(", "\x1b)"), i) and i + 2 < len(stream):
                if stream[i + 1] == "(":
                    g0_drawing = stream[i + 2] == "0"
                else:
                    g1_drawing = stream[i + 2] == "0"
                i += 3
                continue
            i += 2  # ESC 7, 8, =, >, \ and the like move nothing tmux draws with
            continue
        i += 1
        if ch == "\r":
            column, pending = 0, False
        elif ch == "\n":
            row, pending = min(row + 1, rows - 1), False
        elif ch == "\b":
            column, pending = max(column - 1, 0), False
        elif ch == "\x0e":
            shifted = True
        elif ch == "\x0f":
            shifted = False
        elif ch < " " or ch == "\x7f":
            pass
        else:
            cells = capture.width(ch)
            if cells == 0:
                if last is not None:
                    text[last[0]][last[1]] += ch
                continue
            if pending:
                row, column, pending = min(row + 1, rows - 1), 0, False
            drawing = g1_drawing if shifted else g0_drawing
            text[row][column] = capture.LINE_DRAWING.get(ch, ch) if drawing else ch
            last = (row, column)
            flags[row][column] = style.flags()
            for x in range(column + 1, min(column + cells, columns)):
                text[row][x], flags[row][x] = "", style.flags()
            if column + cells >= columns:
                column, pending = columns - 1, True
            else:
                column += cells
    return ["".join(line).rstrip() for line in text], flags


def main():
    socket, session, rows, columns, work, out = sys.argv[1:7]
    rows, columns = int(rows), int(columns)
    text, flags = replay(read_client(socket, session, rows, columns, work), rows, columns)
    with open(out, "w", encoding="utf-8") as result:
        json.dump({"text": text, "flags": flags}, result)


if __name__ == "__main__":
    main()
