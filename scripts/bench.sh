#!/usr/bin/env bash
# Runs every benchmark program of a benchmark build: scripts/bench.sh BUILD_DIR
set -euo pipefail
build_dir=${1:?usage: scripts/bench.sh BUILD_DIR}
for program in "$build_dir"/bench/velk-bench-*; do
    [ -f "$program" ] && [ -x "$program" ] || continue  # not the build's folders
    echo "== $(basename "$program")"
    "$program"
done
