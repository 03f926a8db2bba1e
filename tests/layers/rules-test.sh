#!/usr/bin/env bash
# Runs check-layers.sh on a small tree that breaks each of its rules once, next to includes
# the rules allow, and compares what it reports. Usage: rules-test.sh CHECK_LAYERS_SCRIPT
set -euo pipefail

check=${1:?usage: rules-test.sh CHECK_LAYERS_SCRIPT}
tree=$(mktemp -d "${TMPDIR:-/tmp}/velk-layers.XXXXXX")
trap 'rm -rf "$tree"' EXIT

source_file() {
    mkdir -p "$tree/$(dirname "$1")"
    printf '%s\n' "${@:2}" >"$tree/$1"
}

# Allowed: each layer on itself and on those below it, lower core folders, the kit, the window
# on the pages, the program on anything, and system headers.
source_file core/base/Result.h '#pragma once' '#include <QString>'
source_file core/workspace/Workspace.h '#include "core/base/Result.h"' \
    '#include <core/base/Result.h>'
source_file platform/X11Windows.h '#include "core/workspace/Workspace.h"'
source_file platform/speech/Voice.h '#include "platform/X11Windows.h"'
source_file ui/kit/Widgets.h '#include "core/base/Result.h"'
source_file ui/navigation/Navigator.h '#include "ui/kit/Widgets.h"'
source_file ui/history/HistoryPage.h '#include "ui/kit/Widgets.h"' \
    '#include "platform/X11Windows.h"' '#include "ui/navigation/Navigator.h"'
source_file ui/window/MainWindow.h '#include "ui/history/HistoryPage.h"'
source_file app/main.cpp '#include "ui/window/MainWindow.h"' '#include "platform/speech/Voice.h"'

if ! allowed=$("$check" "$tree") || [ -n "$allowed" ]; then
    echo "check-layers.sh reported includes the rules allow:"
    echo "$allowed"
    exit 1
fi

# Broken: one include per rule, and files in places no rule knows.
source_file core/base/Ids.h '#include "ui/kit/Widgets.h"' '#include "core/workspace/Workspace.h"'
source_file core/extra/Extra.h '#include "core/base/Result.h"'
source_file platform/Keys.cpp '// keys' '#include "ui/kit/Widgets.h"'
source_file ui/kit/Icons.h '#include "ui/history/HistoryPage.h"'
source_file ui/navigation/Destination.h '#include "ui/history/HistoryPage.h"'
source_file ui/history/HistoryRow.h '#include "ui/window/MainWindow.h"' '#include "app/main.cpp"'
source_file ui/history/HistoryPage.cpp '#include "HistoryPage.h"'
source_file Stray.cpp ''

expected="src/Stray.cpp: a source outside core/<feature>/, platform/, ui/<feature>/ and app/
src/core/extra/Extra.h: core/extra is not in the core order of check-layers.sh
src/core/base/Ids.h:1: ui/kit/Widgets.h: core/ includes core/ headers only
src/core/base/Ids.h:2: core/workspace/Workspace.h: core/base is below core/workspace in the core \
order
src/platform/Keys.cpp:2: ui/kit/Widgets.h: platform/ includes core/ and platform/ headers only
src/ui/history/HistoryPage.cpp:1: HistoryPage.h: not a header of src/ named by its path from src/
src/ui/history/HistoryRow.h:1: ui/window/MainWindow.h: only ui/window includes ui/window
src/ui/history/HistoryRow.h:2: app/main.cpp: ui/ includes core/, platform/ and ui/ headers only
src/ui/kit/Icons.h:1: ui/history/HistoryPage.h: ui/kit includes no other ui/ folder
src/ui/navigation/Destination.h:1: ui/history/HistoryPage.h: ui/navigation includes only ui/kit"

status=0
actual=$("$check" "$tree") || status=$?
if [ "$status" != 1 ] || [ "$actual" != "$expected" ]; then
    echo "check-layers.sh exited with $status; the difference to what it should report:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "check-layers.sh reports each broken rule"
