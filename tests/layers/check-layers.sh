#!/usr/bin/env bash
# Checks that the includes of src/ follow the layers, and prints each include that does not as
# file:line: rule. Exits 1 when there is one. Usage: check-layers.sh SRC_DIR
#
#   core/      velk_core: includes core/ headers only
#   platform/  velk_platform and velk_speech: core/ and platform/
#   ui/        velk_ui: core/, platform/ and ui/
#   app/       the program: anything
# Within core/, a feature folder includes its own headers and those of the folders below it in
# core_order. Within ui/, kit/ includes no other ui/ folder, navigation/ only kit/, and only
# window/ includes window/.
# Includes are written from src/ ("core/runs/RunFiles.h"), so that each shows its layer.
set -euo pipefail

src=${1:?usage: check-layers.sh SRC_DIR}

# velk_core's feature folders, lowest first: the order their includes follow today (base and
# services are used by all; workspace composes the features below it).
core_order="base services appearance terminal assistants attention files runs actions companion workspace app"

cd "$src"
files=$(find . -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \
    -o -name '*.inc' \) | sed 's|^\./||' | LC_ALL=C sort)
[ -n "$files" ] || { echo "$src: no sources" >&2; exit 1; }

printf '%s\n' "$files" | awk -v order="$core_order" '
BEGIN {
    n = split(order, feature, " ")
    for (i = 1; i <= n; i++) rank[feature[i]] = i
    failed = 0
}
function report(rule) {
    printf "src/%s:%d: %s: %s\n", FILENAME, FNR, include, rule
    failed = 1
}
NR == FNR {
    exists[$0] = 1
    depth = split($0, part, "/")
    if (!(part[1] ~ /^(platform|app)$/ && depth >= 2 || part[1] ~ /^(core|ui)$/ && depth >= 3)) {
        printf "src/%s: a source outside core/<feature>/, platform/, ui/<feature>/ and app/\n", $0
        failed = 1
    } else if (part[1] == "core" && !(part[2] in rank)) {
        printf "src/%s: core/%s is not in the core order of check-layers.sh\n", $0, part[2]
        failed = 1
    }
    next
}
FNR == 1 {
    split(FILENAME, part, "/")
    layer = part[1]
    folder = part[2]
}
/^[ \t]*#[ \t]*include[ \t]*["<]/ {
    line = $0
    sub(/^[ \t]*#[ \t]*include[ \t]*/, "", line)
    quoted = substr(line, 1, 1) == "\""
    include = substr(line, 2)
    sub(/[">].*$/, "", include)
    split(include, to, "/")
    if (!quoted && to[1] !~ /^(core|platform|ui|app)$/) next
    if (!(include in exists)) {
        report("not a header of src/ named by its path from src/")
        next
    }
    if (layer == "core") {
        if (to[1] != "core") {
            report("core/ includes core/ headers only")
        } else if (to[2] in rank && folder in rank && rank[to[2]] > rank[folder]) {
            report("core/" folder " is below core/" to[2] " in the core order")
        }
    } else if (layer == "platform") {
        if (to[1] != "core" && to[1] != "platform")
            report("platform/ includes core/ and platform/ headers only")
    } else if (layer == "ui") {
        if (to[1] != "core" && to[1] != "platform" && to[1] != "ui")
            report("ui/ includes core/, platform/ and ui/ headers only")
        else if (to[1] == "ui" && folder == "kit" && to[2] != "kit")
            report("ui/kit includes no other ui/ folder")
        else if (to[1] == "ui" && folder == "navigation" && to[2] != "navigation" && to[2] != "kit")
            report("ui/navigation includes only ui/kit")
        else if (to[1] == "ui" && folder != "window" && to[2] == "window")
            report("only ui/window includes ui/window")
    }
}
END { exit failed }
' - $files
