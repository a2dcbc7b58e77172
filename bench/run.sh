#!/usr/bin/env bash
# Runs every benchmark: the whole-process timing scripts bench/*.sh, the micro-benchmarks and
# the fault soak.
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
# The fault soak last: about two minutes, and a wrong outcome or a hang fails the run.
if [ -x "$build/bench/korvex-soak" ]; then
    echo "== korvex-soak"
    "$build/bench/korvex-soak"
fi
