#!/usr/bin/env bash
# Builds the Debian package from a Release build folder, installs it with apt-get (which
# resolves its dependencies), checks the installed desktop files, runs the installed
# program's self-test and its menu entry in a throw-away home, then removes the package.
#   scripts/test-package.sh BUILD_DIR
# Needs root or sudo. The package is removed again even when a step fails.
set -euo pipefail

build_dir=${1:?usage: scripts/test-package.sh BUILD_DIR}
build_dir=$(cd "$build_dir" && pwd)
app_id=ai.kelo.velk

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velk-package.XXXXXX")
chmod 755 "$scratch"  # apt's download user reads the package from here
pids=()
installed=0
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ "$installed" -eq 1 ]; then
        echo "== removing the package"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -qq velk >/dev/null ||
            echo "could not remove the velk package" >&2
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

echo "== building the package"
(cd "$build_dir" && cpack --config CPackConfig.cmake -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/velk_*.deb)
cp "$deb" "$scratch/"
deb="$scratch/$(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends

if dpkg-query -W -f='${Status}' velk 2>/dev/null | grep -q "install ok installed"; then
    fail "a velk package is already installed; remove it first (apt-get remove velk)"
fi

echo "== installing $(basename "$deb")"
installed=1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb" \
    >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get could not install the package"; }
[ -x /usr/bin/velk ] || fail "/usr/bin/velk is missing"

echo "== validating the menu entry and the AppStream metadata"
desktop_file=/usr/share/applications/$app_id.desktop
metainfo=/usr/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop_file"
appstreamcli validate --no-net "$metainfo"
for size in 16 32 48 64 128 256 512; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" ] ||
        fail "the ${size}x$size icon is missing"
done
[ -f "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "the scalable icon is missing"

# A throw-away home, as the test suite uses: nothing of the caller's settings is read.
export HOME="$scratch/home"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
: >"$HOME/.zshenv"
export QT_QPA_PLATFORM=offscreen
unset VELK_RESOURCES DISPLAY WAYLAND_DISPLAY
if command -v dbus-daemon >/dev/null; then
    bus_address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$scratch/dbus.pid")
    pids+=("$(cat "$scratch/dbus.pid")")
    export DBUS_SESSION_BUS_ADDRESS="$bus_address"
fi
# Run from a folder outside the source and build trees.
cd "$scratch"

echo "== running the installed self-test"
status=0
timeout 300 /usr/bin/velk --self-test --test-output "$scratch/self-test" \
    >"$scratch/self-test.out" 2>"$scratch/self-test.err" || status=$?
cat "$scratch/self-test.err"
cat "$scratch/self-test.out"
[ "$status" -eq 0 ] || fail "the installed self-test exited with $status"
grep -qx VELK_TESTS_PASSED "$scratch/self-test.out" || fail "the self-test did not pass"

# The menu entry's command, as the desktop runs it: it must reach the installed program,
# which prepares the example project from its installed resources.
exec_line=$(sed -n 's/^Exec=//p' "$desktop_file")
read -r -a command <<<"$exec_line"
[ "$(command -v "${command[0]}")" = /usr/bin/velk ] ||
    fail "the menu entry runs \"${command[0]}\", which is not the installed program"

echo "== starting the menu entry's command: $exec_line"
"${command[@]}" >"$scratch/menu.log" 2>&1 &
menu_pid=$!
pids+=("$menu_pid")
example="$XDG_DATA_HOME/Kelo AI/Example Project"
for _ in $(seq 1 300); do
    [ -f "$example/hello.py" ] && break
    kill -0 "$menu_pid" 2>/dev/null || break
    sleep 0.1
done
[ -f "$example/hello.py" ] || { cat "$scratch/menu.log" >&2; fail "the started program did not prepare the example project"; }
kill -0 "$menu_pid" 2>/dev/null || fail "the started program ended by itself"
kill "$menu_pid"
wait "$menu_pid" 2>/dev/null || true

echo "== capturing the pages through the menu entry's command"
timeout 120 "${command[@]}" --capture "$scratch/pages" >"$scratch/capture.log" 2>&1 ||
    { cat "$scratch/capture.log" >&2; fail "the page capture did not finish"; }
for page in Workspace Assistants Appearance "Desktop actions" "Files & runner" Settings; do
    [ -s "$scratch/pages/$page.png" ] || fail "the page capture wrote no image of $page"
done

echo "PACKAGE_TEST_PASSED"
