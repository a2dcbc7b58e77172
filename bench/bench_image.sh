#!/usr/bin/env bash
# Whole-process time of `korvex-cli info FILE --output OUT.bin` on a 4 MiB image in Intel HEX and
# in S3 records, beside objcopy and srec_cat turning the same files into the same binary.
# Prints medians of several runs per tool and the ratios tool / korvex-cli. Usage: bench_image.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-15}
cli="$build/cli/korvex-cli"
[ -x "$cli" ] || { echo "missing $cli (build it first)" >&2; exit 1; }
for tool in srec_cat objcopy; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
base=0x00100000
head -c $((4 * 1024 * 1024)) /dev/urandom >"$work/data.bin"
srec_cat "$work/data.bin" -binary -offset $base -o "$work/image.hex" -intel
srec_cat "$work/data.bin" -binary -offset $base -o "$work/image.s3" -motorola -address-length=4

# Median wall time and median processor time (user + system) of a command, in milliseconds,
# as "WALL CPU"; one untimed warm-up run first. The processor time shows what the work costs
# when other jobs share the machine and stretch the wall time.
median_ms() {
    "$@" >/dev/null 2>&1
    local TIMEFORMAT='%3R %3U %3S' samples
    samples=$(for _ in $(seq "$runs"); do { time "$@" >/dev/null 2>&1; } 2>&1; done)
    local wall cpu
    wall=$(awk '{ print $1 * 1000 }' <<<"$samples" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
    cpu=$(awk '{ print ($2 + $3) * 1000 }' <<<"$samples" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
    echo "$wall $cpu"
}

ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }

check_same() {
    cmp -s "$work/data.bin" "$1" || { echo "FAIL: $2 does not match the source data" >&2; exit 1; }
}

report() {
    local format=$1 file=$2 objcopy_input=$3 srec_input=$4
    local ours objcopy_times srec_times
    read -r -a ours <<<"$(median_ms "$cli" info "$file" --output "$work/ours.bin")"
    check_same "$work/ours.bin" "korvex-cli ($format)"
    read -r -a objcopy_times <<<"$(median_ms objcopy -I "$objcopy_input" -O binary "$file" "$work/objcopy.bin")"
    check_same "$work/objcopy.bin" "objcopy ($format)"
    read -r -a srec_times <<<"$(median_ms srec_cat "$file" "$srec_input" -offset -$base -o "$work/srec.bin" -binary)"
    check_same "$work/srec.bin" "srec_cat ($format)"
    printf '%-9s wall ms: korvex-cli %6.1f  objcopy %6.1f (ratio %5s)  srec_cat %6.1f (ratio %5s)\n' \
        "$format" "${ours[0]}" "${objcopy_times[0]}" "$(ratio "${objcopy_times[0]}" "${ours[0]}")" \
        "${srec_times[0]}" "$(ratio "${srec_times[0]}" "${ours[0]}")"
    printf '%-9s cpu ms:  korvex-cli %6.1f  objcopy %6.1f (ratio %5s)  srec_cat %6.1f (ratio %5s)\n' \
        "" "${ours[1]}" "${objcopy_times[1]}" "$(ratio "${objcopy_times[1]}" "${ours[1]}")" \
        "${srec_times[1]}" "$(ratio "${srec_times[1]}" "${ours[1]}")"
}

echo "4 MiB image, medians of $runs runs; ratio = other tool's time / korvex-cli's time (above 1: korvex-cli is faster)"
report "Intel HEX" "$work/image.hex" ihex -intel
report "S3" "$work/image.s3" srec -motorola
