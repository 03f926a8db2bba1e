#!/bin/sh
# Output in the manner of the coding assistants VELK hosts, for the terminal recordings:
# keyboard-protocol pushes, pops and queries, modifyOtherKeys, emoji and East Asian text,
# bracketed paste, a redrawn status line, and REP.
printf '\033[>4;1m\033[>7u\033[?u\033[?2004h\033[?25l'
printf '╭──────────────────────────────╮\n'
printf '│ ✅ Tests passed   ⭐ 12 stars │\n'
printf '│ ⚡ fast  ☕ break  ⌚ 10:42   │\n'
printf '│ 中文 한국어 日本語 🚀 done    │\n'
printf '╰──────────────────────────────╯\n'
printf 'e\314\201t\303\251 na\303\257ve \342\234\205\357\270\217 ok\n'
printf 'Working…'
printf '\r\033[2KWorking… 50%%'
printf '\r\033[2K● Done.\n'
# A cursor saved here must not come back when the keyboard mode is popped below.
printf '\033[sThis line must not be overwritten.\n'
printf 'rep: x\033[9b|\n'
tput rep 61 20 2>/dev/null || printf '===================='
printf '\n\033[<u\033[?25h\033[?2004l\033[>4;0m'
printf 'final line after the pop\n'
