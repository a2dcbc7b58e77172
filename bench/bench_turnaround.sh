#!/usr/bin/env bash
# korvex-cli programming 64 KiB at 115200 baud through a simulated USB adapter that holds each
# answer back (korvex-boardsim --turnaround MS, on the line-rate model): 16 ms, an FTDI adapter's
# default latency timer, and 1 ms, the one low latency gives. Prints the throughput as a share of
# the wire limit (11520 x 80 / 83 data bytes a second) and the turnaround korvex-cli measured,
# and checks the slow-adapter hint: once at 16 ms, never at 1 ms.
# Usage: bench_turnaround.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
head -c $((64 * 1024)) /dev/urandom >"$work/image.bin"

echo "64 KiB at 0x01040000, EB40A, 115200 baud (line-rate model)"
failed=0
for turnaround in 16 1; do
    "$sim" --type EB40A --speeds 115200 --line-rate --turnaround "$turnaround" --quiet \
        --no-announce >"$work/sim.out" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        [ -s "$work/sim.out" ] && break
        sleep 0.05
    done
    port=$(head -n 1 "$work/sim.out" | awk '{ print $NF }')
    "$cli" program "$work/image.bin" --address 0x01040000 --type EB40A -p "$port" --json \
        >"$work/result.json" 2>"$work/err.txt"
    kill "$pid" && wait "$pid" 2>/dev/null || true
    pid=
    read -r bytes seconds measured < <(sed -E \
        's/.*"bytes":([0-9]+),.*"seconds":([0-9.]+),.*"turnaround_ms":([0-9.]+).*/\1 \2 \3/' \
        "$work/result.json")
    hints=$(grep -c "See README: Slow USB adapters." "$work/err.txt" || true)
    want=$([ "$turnaround" -gt 3 ] && echo 1 || echo 0)
    verdict=ok
    [ "$hints" = "$want" ] || { verdict="WRONG (expected $want)"; failed=1; }
    printf -- '--turnaround %2s: %6.2f s, %s of the wire limit, turnaround measured %s ms, hint %sx: %s\n' \
        "$turnaround" "$seconds" \
        "$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.3f", b / s / (11520 * 80 / 83) }')" \
        "$measured" "$hints" "$verdict"
done
echo "(the seconds include the synchronisation, the erase phase and the verify)"
exit "$failed"
