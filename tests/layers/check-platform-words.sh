#!/bin/sh
# VELK is a Linux application: its sources name the Mac, its keys and its services only where
# the plan format's macOS key names, the resolver's table of well-known macOS application ids
# and the stored texts of earlier versions need them, and in the comments explaining those.
# Usage: check-platform-words.sh SRC_DIR
set -eu
src=${1:?usage: check-platform-words.sh SRC_DIR}
cd "$src/.."

# Whole words only: "QTextBoundaryFinder" and "Machine" are not about the Mac.
words='(^|[^A-Za-z])(Mac|macOS|Finder|AppleScript|Apple)([^a-z]|$)|⌘'
allowed='^src/core/actions/ComputerPlan\.h:[0-9]+:// A keyboard shortcut of the allow-list: the macOS virtual key code
^src/platform/ApplicationResolver\.h:[0-9]+:// well-known macOS bundle identifiers
^src/platform/ApplicationResolver\.h:[0-9]+:// The kind of application a well-known macOS identifier
^src/platform/ApplicationResolver\.h:[0-9]+:// The role of a macOS identifier
^src/platform/LinuxStepRunner\.h:[0-9]+:// launched through GIO \(well-known macOS identifiers
^src/core/workspace/ProviderRegistry\.cpp:[0-9]+: +\{"shell", &Provider::subtitle, "Your Mac · Zsh shell"\},'

found=$(grep -rnE "$words" src | grep -vE "$allowed" || true)
if [ -n "$found" ]; then
    echo "Texts naming the Mac outside the allowed places:"
    echo "$found"
    exit 1
fi
