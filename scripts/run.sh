#!/usr/bin/env bash
# Starts Korvex; where the simulated board is built, one runs beside the window (an EB40A in
# flash programming mode) and stops when the window closes.
set -euo pipefail
build=${1:-build}
sim="$build/tools/boardsim/korvex-boardsim"
if [ -x "$sim" ]; then
    "$sim" --type EB40A &
    sim_pid=$!
    trap 'kill $sim_pid 2>/dev/null || true' EXIT
    sleep 0.5
fi
"$build/src/korvex"
