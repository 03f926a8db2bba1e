#!/usr/bin/env bash
# Runs the test suite of one build folder: scripts/test.sh BUILD_DIR [ctest arguments...]
# Starts what the tests need and nothing else persists: an Xvfb display, a private D-Bus
# session bus, and temporary home, configuration, data and runtime folders, so no test
# ever touches the user's own preferences or tools.
set -euo pipefail

build_dir=${1:?usage: scripts/test.sh BUILD_DIR [ctest arguments...]}
shift
build_dir=$(cd "$build_dir" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velk-test.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

export HOME="$scratch/home"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
export TMPDIR="$scratch/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
: > "$HOME/.zshenv"

# A display for the tests that need real X11 (keystrokes, floating windows).
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
if [ -n "$display" ] && command -v Xvfb >/dev/null; then
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
    export DISPLAY="$display"
fi

# A private session bus; tests that need the system services register fakes on it.
if command -v dbus-daemon >/dev/null; then
    bus_address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$scratch/dbus.pid")
    pids+=($(cat "$scratch/dbus.pid"))
    export DBUS_SESSION_BUS_ADDRESS="$bus_address"
fi

# A private sound server whose only sink discards what it plays; the sink's monitor, remapped
# as an ordinary source (Qt lists no monitors), is the default input, so what the tests play
# there is what they hear on the "microphone".
# Tests that need sound skip themselves when no server is running.
if command -v pulseaudio >/dev/null && command -v pactl >/dev/null; then
    pulse_socket="$XDG_RUNTIME_DIR/velk-pulse.sock"
    pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disable-shm=yes \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_socket" \
        --load="module-null-sink sink_name=velk_null_sink" \
        --load="module-remap-source master=velk_null_sink.monitor source_name=velk_microphone" \
        >"$scratch/pulseaudio.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 50); do [ -S "$pulse_socket" ] && break; sleep 0.1; done
    if [ -S "$pulse_socket" ] && PULSE_SERVER="unix:$pulse_socket" pactl set-default-source velk_microphone 2>/dev/null; then
        export PULSE_SERVER="unix:$pulse_socket"
    fi
fi

# Views render offscreen unless a test opts into the display.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/tests/tsan.supp}"

cd "$build_dir"
ctest --output-on-failure --timeout 900 -j "$(nproc)" "$@"
