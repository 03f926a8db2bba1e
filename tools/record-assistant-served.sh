#!/bin/sh
# Runs an assistant command-line program for tools/record-terminal-programs.sh against the
# local model server of the assistants tests (tests/assistants/cli/model_server.py), with its
# onboarding done (prepare_home.py), inside a network namespace whose only interface is the
# loopback. Started with `unshare -n -m -p -f --mount-proc --kill-child`.
#
#   record-assistant-served.sh WORK CONVERSATION PROGRAM [ARGUMENTS…]
set -eu
work=$1
conversation=$2
shift 2
cli=$(cd "$(dirname "$0")/../tests/assistants/cli" && pwd)
ip link set lo up
mkdir -p "$work/etc-upper/codex" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc
# A fixed name: the programs show the project folder's and its parent's.
home=$(mktemp -d "$work/home.XXXXXX")/user
mkdir -p "$home/project"
python3 "$cli/model_server.py" "$cli/conversations/$conversation.json" "$home/requests.jsonl" \
    "$home/port" &
while [ ! -e "$home/port" ]; do sleep 0.05; done
environment=$(VELK_ASSISTANTS_ISOLATED=1 python3 "$cli/prepare_home.py" "$home" \
    "http://127.0.0.1:$(cat "$home/port")" "$(dirname "$(command -v "$1")")" "$home/project")
cd "$home/project"
# shellcheck disable=SC2086
exec env -i $environment TERM=xterm-256color COLORTERM=truecolor LANG=C.UTF-8 "$@"
