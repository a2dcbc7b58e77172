#!/usr/bin/env bash
# korvex-cli station on a bench where boards keep coming: eight simulated boards with the
# line-rate model at 115200 baud appear 0.5 s apart, 32 KiB each, while the station runs with
# --count 8. Prints the time from the first board's appearance to the station's end, against
# eight single programmings of the same boards one after another, and their ratio. Then a full
# bench: 32 such boards at once, the station's time against one board's, and the processor time
# the station spent per board.
# Usage: bench_station.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"

work=$(mktemp -d)
# The settings the window would have stored, and other simulators' announcements, stay out.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

head -c $((32 * 1024)) /dev/urandom >"$work/image.bin"
now() { date +%s.%N; }
seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.2f", e - s }'; }

"$cli" station "$work/image.bin" --address 0x01040000 --type EB40A --count 8 --json \
    >"$work/station.json" &
station=$!
sleep 1 # the station's first look: boards there before it are not its own
start=$(now)
for board in 1 2 3 4 5 6 7 8; do
    "$sim" --line-rate --quiet >"$work/sim$board.out" 2>&1 &
    pids+=($!)
    [ "$board" -lt 8 ] && sleep 0.5
done
wait "$station" || { echo "the station failed:" >&2; cat "$work/station.json" >&2; exit 1; }
together=$(seconds "$start" "$(now)")
passed=$(grep -c '"result":"ok"' "$work/station.json" || true)

start=$(now)
for board in 1 2 3 4 5 6 7 8; do
    port=$(head -n 1 "$work/sim$board.out" | awk '{ print $NF }')
    "$cli" program "$work/image.bin" --address 0x01040000 --type EB40A --port "$port" --quiet
done
alone=$(seconds "$start" "$(now)")

echo "station, 8 boards 0.5 s apart: ${together} s ($passed passed)"
echo "8 programmings one after another: ${alone} s"
awk -v t="$together" -v a="$alone" 'BEGIN { printf "station / one after another: %.2f\n", t / a }'

# 32 boards at once, all there when the station starts: --ports takes them.
for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
wait 2>/dev/null || true
pids=()
for board in $(seq 1 32); do
    "$sim" --line-rate --quiet >"$work/many$board.out" 2>&1 &
    pids+=($!)
done
for board in $(seq 1 32); do # each announces its port on its first line
    until [ -s "$work/many$board.out" ]; do sleep 0.05; done
done
port=$(head -n 1 "$work/many1.out" | awk '{ print $NF }')
start=$(now)
"$cli" program "$work/image.bin" --address 0x01040000 --type EB40A --port "$port" --quiet
one=$(seconds "$start" "$(now)")
TIMEFORMAT='%R %U %S'
{ time "$cli" station "$work/image.bin" --address 0x01040000 --type EB40A --count 32 --json \
    --ports '/dev/pts/*' >"$work/many.json"; } 2>"$work/many.time" ||
    { echo "the station failed:" >&2; cat "$work/many.json" "$work/many.time" >&2; exit 1; }
read -r all user system <"$work/many.time"
passed=$(grep -c '"result":"ok"' "$work/many.json" || true)
echo "station, 32 boards at once: ${all} s ($passed passed); one board alone: ${one} s"
awk -v t="$all" -v o="$one" -v u="$user" -v s="$system" 'BEGIN {
    printf "32 at once / one alone: %.2f; station processor time per board: %.1f ms\n",
           t / o, (u + s) * 1000 / 32 }'
