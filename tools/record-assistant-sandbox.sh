#!/bin/sh
# Runs an assistant command-line program for tools/record-terminal-programs.sh as a new user
# would meet it: a fresh home and project folder, inside a network namespace of its own whose
# only interface is the loopback, so nothing the program tries reaches another machine and it
# signs nobody in. Started with `unshare -n -m -p -f --mount-proc --kill-child`: the process
# namespace ends with the recording, taking any daemon the program left (Codex leaves one).
#
#   record-assistant-sandbox.sh WORK PROGRAM [ARGUMENTS…]
#
# Claude Code checks that it can reach its service before its first screen; its two host
# names are pointed at a loopback stand-in (tools/record-assistant-standin.py) that answers
# that check and nothing else.
set -eu
work=$1
shift
ip link set lo up
printf '127.0.0.1 localhost\n127.0.0.1 api.anthropic.com platform.claude.com\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
if [ ! -e "$work/standin.pem" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=recording-stand-in \
        -addext subjectAltName=DNS:api.anthropic.com,DNS:platform.claude.com \
        -keyout "$work/standin.key" -out "$work/standin.pem" 2>/dev/null
fi
python3 "$(dirname "$0")/record-assistant-standin.py" "$work/standin.pem" "$work/standin.key" &
# A fixed name: the programs show the project folder's and its parent's.
home=$(mktemp -d "$work/home.XXXXXX")/user
mkdir -p "$home/project"
cd "$home/project"
sleep 0.5
exec env -i PATH="$(dirname "$(command -v node)"):/usr/bin:/bin" TERM=xterm-256color \
    COLORTERM=truecolor LANG=C.UTF-8 HOME="$home" NODE_EXTRA_CA_CERTS="$work/standin.pem" \
    DISABLE_TELEMETRY=1 CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1 "$@"
