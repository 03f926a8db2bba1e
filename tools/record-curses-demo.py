#!/usr/bin/env python3
"""A small curses program for the terminal recordings: boxes, colours, wide characters,
a scrolling window and an inserted line."""
import curses
import time


def main(screen):
    curses.start_color()
    curses.use_default_colors()
    curses.init_pair(1, curses.COLOR_YELLOW, curses.COLOR_BLUE)
    curses.init_pair(2, curses.COLOR_GREEN, -1)
    screen.box()
    screen.addstr(0, 2, " curses demo ", curses.color_pair(1) | curses.A_BOLD)
    window = curses.newwin(8, 40, 3, 5)
    window.box()
    window.addstr(1, 2, "inside a window", curses.color_pair(2))
    window.addstr(2, 2, "wide: 中文 ✅ ⭐ done")
    window.addstr(3, 2, "acs:")
    window.addch(3, 7, curses.ACS_ULCORNER)
    window.addch(3, 8, curses.ACS_HLINE)
    window.addch(3, 9, curses.ACS_URCORNER)
    window.refresh()
    pad = curses.newwin(6, 30, 13, 40)
    pad.scrollok(True)
    for i in range(12):
        pad.addstr(f"scrolled line {i}\n")
        pad.refresh()
    screen.addstr(20, 3, "inserted below")
    screen.move(20, 3)
    screen.insertln()
    screen.addstr(20, 3, "new line above", curses.A_REVERSE)
    screen.refresh()
    time.sleep(10)


curses.wrapper(main)
