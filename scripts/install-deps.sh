#!/usr/bin/env bash
# Installs every Debian package VELK needs to build, test, benchmark and run.
# This is the only place that lists them. Safe to run again: it does nothing when
# everything is present, and refreshes the package lists only when something is missing.
set -euo pipefail

packages=(
    # compiler and build
    g++ cmake ninja-build make ccache pkg-config
    # toolkit
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins
    # symbolic icons of the interface
    adwaita-icon-theme
    libgl-dev
    # audio in, speech out, speech in
    qt6-multimedia-dev qt6-speech-dev qt6-speech-flite-plugin
    # (the speech package's CMake files need QmlIntegration from the declarative package)
    qt6-declarative-dev
    libpocketsphinx-dev pocketsphinx-en-us
    # digests, desktop applications, keystrokes, X11 queries
    libssl-dev libglib2.0-dev libxdo-dev libx11-dev libxtst-dev
    # line diffs of the team-run review
    libgit2-dev
    # every terminal runs the login shell
    zsh
    # tests: unit, X11 display, D-Bus, fake assistants, reference terminal
    libgtest-dev libgmock-dev xvfb xauth dbus python3 tmux
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

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
