#!/usr/bin/env bash
# Whole-process time of `korvex-cli info FILE --output OUT.bin` on a 4 MiB image in Intel HEX and
# in S3 records, beside objcopy and srec_cat turning the same files into the same binary.
# Prints the median of several runs per tool and the ratio tool / korvex-cli (above 1: we are
# faster). Usage: bench_image.sh BUILD_DIR [RUNS]
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

# Median wall time of a command in milliseconds (one untimed warm-up run first).
median_ms() {
    "$@" >/dev/null 2>&1
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", t[int((NR + 1) / 2)] / 1000 }'
}

check_same() {
    cmp -s "$work/data.bin" "$1" || { echo "FAIL: $2 does not match the source data" >&2; exit 1; }
}

report() {
    local format=$1 file=$2 objcopy_input=$3 srec_input=$4
    local ours objcopy_ms srec_ms
    ours=$(median_ms "$cli" info "$file" --output "$work/ours.bin")
    check_same "$work/ours.bin" "korvex-cli ($format)"
    objcopy_ms=$(median_ms objcopy -I "$objcopy_input" -O binary "$file" "$work/objcopy.bin")
    check_same "$work/objcopy.bin" "objcopy ($format)"
    srec_ms=$(median_ms srec_cat "$file" "$srec_input" -offset -$base -o "$work/srec.bin" -binary)
    check_same "$work/srec.bin" "srec_cat ($format)"
    printf '%-10s korvex-cli %8s ms | objcopy %8s ms  ratio %5s | srec_cat %8s ms  ratio %5s\n' \
        "$format" "$ours" "$objcopy_ms" "$(awk "BEGIN { printf \"%.2f\", $objcopy_ms / $ours }")" \
        "$srec_ms" "$(awk "BEGIN { printf \"%.2f\", $srec_ms / $ours }")"
}

echo "4 MiB image, median of $runs runs; ratio = other tool's time / korvex-cli's time"
report "Intel HEX" "$work/image.hex" ihex -intel
report "S3" "$work/image.s3" srec -motorola
