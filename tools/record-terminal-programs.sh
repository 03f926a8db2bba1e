#!/usr/bin/env bash
# Records real programs running in tmux and keeps, for each, the bytes the program wrote and
# tmux's screen at the same moment. tests/terminal/TerminalRecordingTests.cpp replays the
# bytes through TerminalScreen and compares with tmux's screen.
#
#   tools/record-terminal-programs.sh [NAME…]     (default: every recording below)
#
# Needs tmux, vim, less, htop, nano, mc, dialog, man, zsh, git, ncdu, whiptail.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/terminal/recordings
work=$(mktemp -d)
socket=velk-record-$$
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$out"

# A fixed sample file and folder so the recordings do not depend on this machine.
seq -f "line %g of the sample file: the quick brown fox jumps over the lazy dog" 1 200 \
    > "$work/sample.txt"
mkdir -p "$work/tree/src" "$work/tree/docs"
for i in 1 2 3 4 5 6; do head -c $((i * 1500)) /dev/zero > "$work/tree/src/file$i.bin"; done
printf 'readme\n' > "$work/tree/README.md"

# record NAME ROWS COLUMNS 'COMMAND' [KEYS-AND-PAUSES…]
# Each extra argument is either "sleep:SECONDS" or keys for tmux send-keys.
record() {
    local name=$1 rows=$2 columns=$3 command=$4
    shift 4
    # The program starts only once tmux copies its output, and its pane stays open after it
    # ends so that tmux adds nothing of its own to the screen.
    cat > "$work/$name.sh" <<SCRIPT
export TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME=$work
while [ ! -e "$work/$name.go" ]; do sleep 0.05; done
$command
sleep 60
SCRIPT
    tmux -L "$socket" -f /dev/null new-session -d -s rec -x "$columns" -y "$rows" "sh $work/$name.sh"
    tmux -L "$socket" set-option -g window-size manual
    tmux -L "$socket" pipe-pane -t rec -o "cat > '$work/$name.bytes'"
    sleep 0.3
    touch "$work/$name.go"
    sleep 1.5
    for step in "$@"; do
        case $step in
            sleep:*) sleep "${step#sleep:}" ;;
            *) tmux -L "$socket" send-keys -t rec "$step" ;;
        esac
    done
    sleep 1.5
    # -e marks line-drawing cells with SO/SI (tmux keeps them as ASCII internally); the text
    # is mapped below as a terminal shows it.
    tmux -L "$socket" capture-pane -p -e -t rec > "$work/$name.tmux.txt"
    tmux -L "$socket" kill-server
    sleep 0.3
    cp "$work/$name.bytes" "$out/$name-${rows}x${columns}.bytes"
    # capture-pane leaves out the trailing empty lines; keep exactly one line per row.
    python3 - "$work/$name.tmux.txt" "$rows" > "$out/$name-${rows}x${columns}.tmux.txt" <<'PY'
import re, sys
LINE_DRAWING = dict(zip("_`abcdefghijklmnopqrstuvwxyz{|}~",
                        "\u00a0\u25c6\u2592\u2409\u240c\u240d\u240a\u00b0\u00b1\u2424\u240b"
                        "\u2518\u2510\u250c\u2514\u253c\u23ba\u23bb\u2500\u23bc\u23bd\u251c"
                        "\u2524\u2534\u252c\u2502\u2264\u2265\u03c0\u2260\u00a3\u00b7"))
drawing = False  # the SO/SI state runs on from one line to the next
def plain(line):
    global drawing
    line = re.sub(r"\x1b\[[0-9;:]*m", "", line)
    out = []
    for ch in line:
        if ch == "\x0e":
            drawing = True
        elif ch == "\x0f":
            drawing = False
        else:
            out.append(LINE_DRAWING.get(ch, ch) if drawing else ch)
    return "".join(out)
lines = [plain(l) for l in open(sys.argv[1], encoding="utf-8").read().split("\n")]
if lines and lines[-1] == "":
    lines.pop()
rows = int(sys.argv[2])
lines = [l.rstrip() for l in lines][:rows]
lines += [""] * (rows - len(lines))
sys.stdout.write("\n".join(lines) + "\n")
PY
    echo "recorded $name (${rows}x${columns}, $(wc -c < "$out/$name-${rows}x${columns}.bytes") bytes)"
}

names=("$@")
want() { [ ${#names[@]} -eq 0 ] && return 0; local n; for n in "${names[@]}"; do [ "$n" = "$1" ] && return 0; done; return 1; }

want vim && record vim 24 80 "vim -u NONE -N -i NONE $work/sample.txt" \
    ":set number" Enter "40G" "dd" "o" "an inserted line with ✅ and 中文" Escape "sleep:0.5"
want vim-exit && record vim-exit 24 80 "printf 'before vim\n'; vim -u NONE -N -i NONE $work/sample.txt" \
    "G" "sleep:0.3" ":q" Enter
want less && record less 24 80 "less $work/sample.txt" "Space" "sleep:0.3" "/fox" Enter
want htop && record htop 24 80 "htop -d 100" "sleep:1.5"
want nano && record nano 24 80 "nano $work/sample.txt" "sleep:0.5" Down Down "typed text" "sleep:0.3"
want mc && record mc 24 80 "cd $work/tree && mc -u --nocolor=false" "sleep:1.5"
want dialog && record dialog 24 80 "dialog --title 'VELK' --msgbox 'Hello from a dialog box drawn with the DEC line-drawing set.' 10 50"
want whiptail && record whiptail 24 80 "whiptail --title 'Menu' --menu 'Choose one' 15 50 4 a Alpha b Beta c Gamma d Delta"
want man && record man 24 80 "MANPAGER=less man ls" "sleep:0.5"
want zsh && record zsh 24 80 "PS1='%~ %# ' zsh -f -i" "sleep:0.5" \
    "echo this is a long command line that is wider than the eighty columns of the terminal screen" "sleep:0.3" Enter "sleep:0.3" "ls" Enter
want ls && record ls 24 80 "ls --color=always -la $work/tree $work/tree/src"
want git && record git 24 80 "cd $PWD && git --no-pager log --graph --color=always --decorate -12 --format='%h %s'"
want ncdu && record ncdu 24 80 "ncdu $work/tree" "sleep:1"
want curses && record curses 24 80 "python3 $PWD/tools/record-curses-demo.py"
want assistant && record assistant 24 80 "sh $PWD/tools/record-assistant-like.sh"
want vim-wide && record vim-wide 50 200 "vim -u NONE -N -i NONE $work/sample.txt" ":set number" Enter "100G" "sleep:0.3"
want htop-wide && record htop-wide 50 200 "htop -d 100" "sleep:1.5"
