#!/usr/bin/env bash
# Renders the main window on a private Xvfb display with `velk --capture` and stores the
# Workspace page as docs/screenshot.png (the README's picture).
#   scripts/make-screenshot.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "${1:?usage: scripts/make-screenshot.sh BUILD_DIR}" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velk-screenshot.XXXXXX")
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# A fresh home, so the picture shows a first start and nothing of the caller's settings.
mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" \
    XDG_DATA_HOME="$scratch/home/.local/share" XDG_RUNTIME_DIR="$scratch/runtime" \
    DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    timeout 120 "$build_dir/src/app/velk" --capture "$scratch/pages"
cp "$scratch/pages/Workspace.png" "$repo/docs/screenshot.png"
echo "wrote docs/screenshot.png"
