#!/usr/bin/env bash
# Starts Korvex beside two simulated EB40A boards, one in flash programming mode and one in SRAM
# uploading mode, so that the whole flow works on a machine without a board; the boards stop
# when the window closes. After a programming the flash board runs its program once the board
# output pane has opened its port, as a board on a USB adapter restarts when a host opens it:
# Monitor > Board Output shows its banner. KORVEX_BOARDSIM=0 starts the window alone.
set -euo pipefail
build=${1:-build}
sim="$build/tools/boardsim/korvex-boardsim"
pids=()
scratch=$(mktemp -d)
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; rm -rf "$scratch"' EXIT

# Starts one board and tells its port once it is ready and announced.
start_board() {
    local mode=$1 out="$scratch/$1.out" log="$scratch/$1.log"
    shift
    "$sim" --type EB40A --mode "$mode" --line-rate --quiet "$@" >"$out" 2>"$log" &
    local pid=$!
    pids+=("$pid")
    for _ in $(seq 100); do
        [ -s "$out" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ -s "$out" ]; then
        echo "Simulated EB40A board in $mode mode on $(head -n 1 "$out"): choose it in the port list."
    else
        echo "The simulated board ($mode mode) did not start:" >&2
        cat "$log" >&2
    fi
}

if [ "${KORVEX_BOARDSIM:-1}" != 0 ] && [ -x "$sim" ]; then
    start_board flash --run-after 1000
    echo "Once programmed, the flash board runs its program: Monitor > Board Output (F8) shows it."
    start_board sram
fi
"$build/src/window/korvex"
