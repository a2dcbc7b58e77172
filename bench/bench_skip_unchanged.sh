#!/usr/bin/env bash
# korvex-cli program --skip-unchanged on one line-rate simulated EB40A at 115200 baud, 256 KiB at
# 0x01100000 (four 64 KiB sectors). Prints each programming's seconds (from its JSON object,
# synchronisation included) and its ratio to a full programming in the same run:
#   the same image again with --skip-unchanged  (aim: at most 0.10)
#   one 80-byte block changed                   (aim: at most 0.30, one sector of four)
#   a first programming with --skip-unchanged   (aim: at most 1.02, nothing can be skipped)
# Usage: bench_skip_unchanged.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$sim" --type EB40A --speeds 115200 --line-rate --quiet --no-announce >"$work/sim.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
done
port=$(head -n 1 "$work/sim.out" | awk '{ print $NF }')

head -c $((256 * 1024)) /dev/urandom >"$work/image.bin"
cp "$work/image.bin" "$work/changed.bin"
# One 80-byte block in the third sector.
head -c 80 /dev/urandom | dd of="$work/changed.bin" bs=1 seek=$((2 * 65536 + 4000)) conv=notrunc 2>/dev/null

# Programs a file with the given ledger folder and options; prints the seconds.
program() {
    local file=$1 ledger=$2
    shift 2
    XDG_DATA_HOME="$ledger" "$cli" program "$file" --address 0x01100000 --type EB40A \
        -p "$port" --json "$@" >"$work/result.json"
    grep -q '"result":"ok"' "$work/result.json" || { cat "$work/result.json" >&2; exit 1; }
    sed -E 's/.*"seconds":([0-9.]+).*/\1/' "$work/result.json"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

full=$(program "$work/image.bin" "$work/plain")
first=$(program "$work/image.bin" "$work/fresh" --skip-unchanged)
same=$(program "$work/image.bin" "$work/fresh" --skip-unchanged)
block=$(program "$work/changed.bin" "$work/fresh" --skip-unchanged)

echo "256 KiB at 0x01100000, EB40A, 115200 baud (line-rate model)"
printf 'full programming:                 %6.2f s\n' "$full"
printf 'same image, --skip-unchanged:     %6.2f s  ratio %s (aim <= 0.10)\n' "$same" "$(ratio "$same" "$full")"
printf 'one 80-byte block changed:        %6.2f s  ratio %s (aim <= 0.30)\n' "$block" "$(ratio "$block" "$full")"
printf 'first programming, skip-unchanged: %5.2f s  ratio %s (aim <= 1.02)\n' "$first" "$(ratio "$first" "$full")"
