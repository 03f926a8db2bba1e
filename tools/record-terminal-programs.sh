#!/usr/bin/env bash
# Records real programs running in tmux and keeps, for each, the bytes the program wrote and
# tmux's screen at the same moment: its text (NAME.tmux.txt), its cell attributes
# (NAME.tmux.attrs, see below) and, when the program set one, its window title
# (NAME.tmux.title). tests/terminal/TerminalRecordingTests.cpp replays the bytes through
# TerminalScreen and compares with tmux's screen.
#
#   tools/record-terminal-programs.sh [NAME…]     (default: every recording below)
#
# Needs tmux, python3 and tic, and the programs recorded: vim, less, htop, nano, mc, dialog,
# man, zsh, git, ncdu, whiptail; for the assistant command-line programs, root (for
# unshare), ip, openssl and the packages installed by tools/install-assistant-clis.sh
# (skipped when VELK_ASSISTANT_CLIS is not set). Tests only replay what is stored here.
#
# NAME.tmux.attrs has one line per screen row: space-separated runs COUNT*FLAGS covering the
# row's cells, FLAGS being "-" or the letters of the attributes set: f foreground colour,
# b background colour (not the default ones), B bold, D dim, I italic, U underline (any
# style), R inverse, S strikethrough. capture-pane reports a row's cells only up to the last
# one a program wrote; the cells after it come from tmux's redraw of the screen to a client
# (tools/record-terminal-redraw.py), or, should that redraw not match the capture, are left
# out, and the row's runs stop short of the last column.
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

# Stops the process PID and its descendants.
freeze() {
    local child
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do freeze "$child"; done
    kill -STOP "$1" 2>/dev/null && echo "$1" >> "$work/frozen" || true
}

# record NAME ROWS COLUMNS 'COMMAND' [KEYS-AND-PAUSES…]
# Each extra argument is "sleep:SECONDS", "wait:TEXT" (until the screen shows TEXT, at most
# 30 seconds), "freeze" (stop the program where it is) or keys for tmux send-keys.
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
    tmux -L "$socket" select-pane -t rec -T ''
    tmux -L "$socket" pipe-pane -t rec -o "cat > '$work/$name.bytes'"
    sleep 0.3
    touch "$work/$name.go"
    sleep 1.5
    for step in "$@"; do
        case $step in
            sleep:*) sleep "${step#sleep:}" ;;
            wait:*)
                local tries=0
                until tmux -L "$socket" capture-pane -p -t rec | grep -qF -- "${step#wait:}"; do
                    tries=$((tries + 1))
                    [ $tries -lt 300 ] || { echo "$name never showed: ${step#wait:}" >&2; break; }
                    sleep 0.1
                done ;;
            # Stops the program and everything it started, so the screen and the bytes
            # captured next agree even while it animates.
            freeze) freeze "$(tmux -L "$socket" display-message -p -t rec '#{pane_pid}')" ;;
            *) tmux -L "$socket" send-keys -t rec "$step" ;;
        esac
    done
    sleep 1.5
    # -e adds the attributes as SGR sequences and marks line-drawing cells with SO/SI (tmux
    # keeps them as ASCII internally); -N keeps trailing spaces, which may be coloured.
    tmux -L "$socket" capture-pane -p -e -N -t rec > "$work/$name.capture"
    # The pane's title was cleared before the program started: one left now is the program's.
    tmux -L "$socket" display-message -p -t rec '#{pane_title}' > "$work/$name.title"
    # The cells capture-pane leaves out, from tmux's redraw of the whole screen to a client.
    tmux -L "$socket" pipe-pane -t rec
    tmux -L "$socket" set-option -g status off
    python3 "$PWD/tools/record-terminal-redraw.py" "$socket" rec "$rows" "$columns" "$work" \
        "$work/$name.redraw.json"
    tmux -L "$socket" kill-server
    if [ -e "$work/frozen" ]; then
        xargs kill -KILL < "$work/frozen" 2>/dev/null || true
        rm -f "$work/frozen"
    fi
    sleep 0.3
    local base="$out/$name-${rows}x${columns}"
    cp "$work/$name.bytes" "$base.bytes"
    python3 "$PWD/tools/record-terminal-capture.py" "$work/$name.capture" "$rows" \
        "$base.tmux.txt" "$base.tmux.attrs" "$work/$name.bytes" "$work/$name.title" \
        "$base.tmux.title" "$work/$name.redraw.json"
    echo "recorded $name (${rows}x${columns}, $(wc -c < "$out/$name-${rows}x${columns}.bytes") bytes)"
}

names=("$@")
want() { [ ${#names[@]} -eq 0 ] && return 0; local n; for n in "${names[@]}"; do [ "$n" = "$1" ] && return 0; done; return 1; }

want vim && record vim 24 80 "vim -u NONE -N -i NONE -n $work/sample.txt" \
    ":set number" Enter "40G" "dd" "o" "an inserted line with ✅ and 中文" Escape "sleep:0.5"
want vim-exit && record vim-exit 24 80 "printf 'before vim\n'; vim -u NONE -N -i NONE -n $work/sample.txt" \
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
want vim-wide && record vim-wide 50 200 "vim -u NONE -N -i NONE -n $work/sample.txt" ":set number" Enter "100G" "sleep:0.3"
want htop-wide && record htop-wide 50 200 "htop -d 100" "sleep:1.5"

# The assistant command-line programs' first screens, as a new user meets them, each in a
# sandbox without network (tools/record-assistant-sandbox.sh). Install them with
# tools/install-assistant-clis.sh FOLDER and pass VELK_ASSISTANT_CLIS=FOLDER.
clis=${VELK_ASSISTANT_CLIS:-}
assistant() {
    local name=$1 program=$2
    shift 2
    if [ -z "$clis" ] || [ ! -x "$clis/node_modules/.bin/$program" ]; then
        echo "skipped $name: set VELK_ASSISTANT_CLIS to a folder of tools/install-assistant-clis.sh"
        return 0
    fi
    record "$name" 24 80 "unshare -n -m -p -f --mount-proc --kill-child sh $PWD/tools/record-assistant-sandbox.sh $work $clis/node_modules/.bin/$program" "$@"
}
# Claude Code: the theme choice, then the sign-in choice.
want claude-start && assistant claude-start claude "wait:Syntax theme" "sleep:1"
want claude-sign-in && assistant claude-sign-in claude "wait:Syntax theme" "sleep:1" Enter \
    "wait:Select login method" "sleep:1"
# Codex opens on its sign-in choice; the first choice shows the sign-in link (nothing is
# reached: the sandbox has no network).
want codex-start && assistant codex-start codex "wait:Press enter to continue" "sleep:1"
want codex-sign-in && assistant codex-sign-in codex "wait:Press enter to continue" "sleep:1" \
    Enter "sleep:4"
# Gemini CLI asks whether to trust the folder, then how to sign in.
want gemini-start && assistant gemini-start gemini "wait:Don't trust" "sleep:2"
want gemini-sign-in && assistant gemini-sign-in gemini "wait:Don't trust" "sleep:2" Enter \
    "wait:How would you like to authenticate" "sleep:2"

# The same programs at work against the local model server of the assistants tests
# (tools/record-assistant-served.sh): streaming an answer, asking to run a command, done,
# and showing the server's error.
served() {
    local name=$1 program=$2 conversation=$3 task=$4
    shift 4
    if [ -z "$clis" ] || [ ! -x "$clis/node_modules/.bin/$program" ]; then
        echo "skipped $name: set VELK_ASSISTANT_CLIS to a folder of tools/install-assistant-clis.sh"
        return 0
    fi
    local line="$clis/node_modules/.bin/$program '$task'"
    [ "$program" = gemini ] && line="$clis/node_modules/.bin/gemini --prompt-interactive '$task'"
    record "$name" 24 80 "unshare -n -m -p -f --mount-proc --kill-child sh $PWD/tools/record-assistant-served.sh $work $conversation $line" "$@"
}
for program in claude codex gemini; do
    want "$program-working" && served "$program-working" "$program" slow "Say something slowly" \
        "wait:Say something slowly" "sleep:3" freeze
    want "$program-approval" && served "$program-approval" "$program" approval "Run the command" \
        "wait:approved.txt" "sleep:2" freeze
    want "$program-done" && served "$program-done" "$program" answer "Say hello" \
        "wait:Hello from the scripted model" "sleep:2" freeze
    # Gemini CLI asks whether to keep trying a server error (gemini-keep-trying): its error
    # screen is that of a dropped connection.
    if [ "$program" != gemini ] && want "$program-error"; then
        served "$program-error" "$program" error-500 "Say hello" "wait:500" "sleep:2" freeze
    elif want "$program-error"; then
        served "$program-error" "$program" drop "Say hello" "wait:API Error" "sleep:2" freeze
    fi
done
want gemini-keep-trying && served gemini-keep-trying gemini error-500 "Say hello" \
    "wait:Keep trying" "sleep:2" freeze
