#!/usr/bin/env bash
# Runs every benchmark: the whole-process timing scripts bench/*.sh and the micro-benchmarks.
set -euo pipefail
build=${1:-build}
here=$(dirname "$0")
for script in "$here"/bench_*.sh; do
    [ -e "$script" ] || continue
    echo "== $(basename "$script")"
    bash "$script" "$build"
done
for program in "$build"/bench/bench_*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program"
done
