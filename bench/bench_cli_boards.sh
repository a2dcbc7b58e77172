#!/usr/bin/env bash
# korvex-cli programming several boards at once: four simulated boards with the line-rate model
# at 115200 baud, 128 KiB each, programmed together, against one board alone. Prints the wall
# times (medians of RUNS), their ratio (aim: at most 1.1), and each board's throughput as a
# share of the wire limit: at 10 bits a byte, every 80 data bytes travel as an 82-byte block and
# a one-byte answer, so 11520 x 80 / 83 data bytes a second at 115200 baud.
# Usage: bench_cli_boards.sh BUILD_DIR [RUNS]
set -euo pipefail
runs=${2:-3}
source "$(dirname "$0")/common.sh"
command -v srec_cat >/dev/null || { echo "missing srec_cat (scripts/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
# The settings the window would have stored stay out of it.
export XDG_CONFIG_HOME="$work/config"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ports=()
for board in 1 2 3 4; do
    "$sim" --line-rate --quiet --no-announce >"$work/sim$board.out" 2>&1 &
    pids+=($!)
done
for board in 1 2 3 4; do
    for _ in $(seq 100); do
        [ -s "$work/sim$board.out" ] && break
        sleep 0.05
    done
    ports+=("$(head -n 1 "$work/sim$board.out" | awk '{ print $NF }')")
done

# 128 KiB from the first unprotected sector of the EB40A.
head -c $((128 * 1024)) /dev/urandom >"$work/image.bin"
srec_cat "$work/image.bin" -binary -offset 0x01040000 -o "$work/image.hex" -intel

# Programs on the given ports; prints the wall time in seconds, then each board's
# "bytes seconds" from its JSON object.
program() {
    local args=() port start end
    for port in "$@"; do args+=(--port "$port"); done
    start=$(date +%s.%N)
    "$cli" program "$work/image.hex" "${args[@]}" --json >"$work/result.json"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
    sed -E 's/.*"bytes":([0-9]+),"seconds":([0-9.]+).*/\1 \2/' "$work/result.json"
}

median() { sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

one=() four=() shares=()
for _ in $(seq "$runs"); do
    program "${ports[0]}" >"$work/one.txt"
    one+=("$(head -n 1 "$work/one.txt")")
    program "${ports[@]}" >"$work/four.txt"
    four+=("$(head -n 1 "$work/four.txt")")
    while read -r bytes seconds; do
        shares+=("$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.3f", b / s / (11520 * 80 / 83) }')")
    done < <(tail -n +2 "$work/four.txt")
done

one_s=$(printf '%s\n' "${one[@]}" | median)
four_s=$(printf '%s\n' "${four[@]}" | median)
echo "128 KiB per board at 115200 baud (line-rate model), medians of $runs runs"
printf 'one board alone:     %6.2f s\n' "$one_s"
printf 'four boards at once: %6.2f s  (ratio %s, aim <= 1.10)\n' "$four_s" \
    "$(awk -v a="$four_s" -v b="$one_s" 'BEGIN { printf "%.3f", a / b }')"
printf 'per-board throughput / wire limit (four at once): min %s  median %s  max %s\n' \
    "$(printf '%s\n' "${shares[@]}" | sort -n | head -n 1)" \
    "$(printf '%s\n' "${shares[@]}" | median)" \
    "$(printf '%s\n' "${shares[@]}" | sort -n | tail -n 1)"
echo "(the seconds include the synchronisation, the erase phase and the verify)"
