#!/bin/sh
# Output in the manner of the coding assistants VELK hosts, for the terminal recordings:
# keyboard-protocol pushes, pops and queries, modifyOtherKeys, emoji and East Asian text,
# bracketed paste, a redrawn status line, REP, and the text styles of their answers.
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
printf '\033[3mitalic\033[23m \033[2mdim\033[22m \033[9mstruck\033[29m \033[4:3mcurly\033[4:0m '
printf '\033[21mdouble\033[24m \033[1;2;3;4;7;9mall\033[22;23;24;27;29m \033[2;37;41mdim on red\033[0m\n'
