#!/usr/bin/env bash
# Starts Korvex beside a simulated EB40A board in flash programming mode, so that the whole
# flow works on a machine without a board; the board stops when the window closes.
# KORVEX_BOARDSIM=0 starts the window alone.
set -euo pipefail
build=${1:-build}
sim="$build/tools/boardsim/korvex-boardsim"
if [ "${KORVEX_BOARDSIM:-1}" != 0 ] && [ -x "$sim" ]; then
    out=$(mktemp)
    log=$(mktemp)
    "$sim" --type EB40A --quiet >"$out" 2>"$log" &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$out" "$log"' EXIT
    # The board prints its port once it is ready and announced.
    for _ in $(seq 100); do
        [ -s "$out" ] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ -s "$out" ]; then
        echo "Simulated EB40A board on $(head -n 1 "$out"): choose it in the port list."
    else
        echo "The simulated board did not start:" >&2
        cat "$log" >&2
    fi
fi
"$build/src/korvex"
