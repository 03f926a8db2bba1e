#!/usr/bin/env bash
# Installs every Debian package VELK needs to build, test, benchmark and run.
# This is the only place that lists them. Safe to run again: it does nothing when
# everything is present, and refreshes the package lists only when something is missing.
#
#   scripts/install-deps.sh [--bench] [BUILD_ROOT]
#
# With --bench it also installs what only the benchmark programs use: btrfs-progs, for the
# Btrfs loop image that velk-bench-large copies projects on.
#
# With a BUILD_ROOT it also installs the assistant command-line programs the assistants
# tests drive, at the exact versions of tests/assistants/cli/package-lock.json, into
# BUILD_ROOT/assistant-clis (with npm's download cache beside them, so a second run
# downloads nothing), and Node.js when there is none.
set -euo pipefail
bench=0
if [ "${1:-}" = "--bench" ]; then
    bench=1
    shift
fi
build_root=${1:-}

packages=(
    # compiler and build
    g++ cmake ninja-build make ccache pkg-config
    # toolkit
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
    # the SVG image plugin that draws the interface's icons
    libqt6svg6
    # fonts' configuration, read ahead of the window; the interface's PNG artwork
    libfontconfig-dev libpng-dev
    # symbolic icons of the interface
    adwaita-icon-theme
    libgl-dev
    # audio in, speech out, speech in
    qt6-multimedia-dev qt6-speech-dev qt6-speech-flite-plugin
    # (the speech package's CMake files need QmlIntegration from the declarative package)
    qt6-declarative-dev
    libpocketsphinx-dev pocketsphinx-en-us
    # digests, desktop applications, keystrokes, X11 queries
    libgcrypt20-dev libglib2.0-dev libxdo-dev libx11-dev libxtst-dev
    # line diffs of the team-run review
    libgit2-dev
    # every terminal runs the login shell
    zsh
    # tests: unit, X11 display, D-Bus, fake assistants, reference terminal
    libgtest-dev libgmock-dev xvfb xauth dbus python3 tmux
    # tests: full-screen programs driven through the terminal by real keys and mouse
    htop less vim
    # tests: a small EWMH window manager for the desktop-action tests
    openbox
    # tests: a sound server with a null sink, and voices that speak into it
    pulseaudio pulseaudio-utils espeak-ng flite
    # benchmarks and fuzzing
    libbenchmark-dev libvterm-dev clang libclang-rt-14-dev
    # formatting
    clang-format
    # the Debian package: dependency scan, and the checks of its menu entry and metadata
    dpkg-dev file desktop-file-utils appstream
)

if [ "$bench" -eq 1 ]; then
    packages+=(btrfs-progs)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ -n "$build_root" ] && ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi

install_assistant_clis() {
    [ -n "$build_root" ] || return 0
    local source folder stamp
    source="$(cd "$(dirname "$0")/.." && pwd)/tests/assistants/cli"
    folder="$build_root/assistant-clis"
    stamp=$(sha256sum "$source/package-lock.json" | cut -d' ' -f1)
    if [ -x "$folder/node_modules/.bin/claude" ] && [ "$(cat "$folder/.lock-sha256" 2>/dev/null)" = "$stamp" ]; then
        return 0
    fi
    echo "Installing the assistant command-line programs into $folder"
    mkdir -p "$folder"
    cp "$source/package.json" "$source/package-lock.json" "$folder/"
    (cd "$folder" && DISABLE_AUTOUPDATER=1 npm ci --no-fund --no-audit --loglevel=error \
        --cache "$build_root/npm-cache" --prefer-offline)
    echo "$stamp" > "$folder/.lock-sha256"
}

if [ ${#missing[@]} -eq 0 ]; then
    install_assistant_clis
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_assistant_clis
