#!/usr/bin/env bash
# Runs each fuzz target for a bounded time on its seed corpus, one after the other, and fails
# when any of them finds a crash, a hang or a broken property. New corpus entries, the inputs
# that failed and the logs go under BUILD/runs, never into the repository's corpus.
# Usage: fuzz/run.sh BUILD SECONDS
set -uo pipefail

build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
runs=$build/runs
# The targets write their inputs to files there many times a second; a target that crashes
# leaves its files behind, so the folder belongs to this run and goes with it.
export FUZZ_SCRATCH
FUZZ_SCRATCH=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/korvex-fuzz.XXXXXX")
trap 'rm -rf "$FUZZ_SCRATCH"' EXIT

failed=0
printf '%-18s %12s  %s\n' target executions result
for source in "$here"/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    corpus=$runs/corpus/$target
    findings=$runs/findings/$target
    log=$runs/$target.log
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings"
    # The first corpus folder receives what the run finds; the seeds are only read.
    "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$here/corpus/$target" \
        >"$log" 2>&1
    status=$?
    executions=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    if [ $status -eq 0 ]; then
        printf '%-18s %12s  ok\n' "$target" "${executions:-?}"
    else
        failed=1
        printf '%-18s %12s  FAILED (status %d), log %s\n' "$target" "${executions:-?}" \
            "$status" "$log"
        if grep -q '^Property violated' "$log"; then
            grep -A1 '^Property violated' "$log" | head -2
        else
            grep -E 'runtime error|==ERROR|^ALARM' "$log" | head -1
            grep '^SUMMARY' "$log" | head -1
        fi | cut -c1-300 | sed 's/^/    /'
        ls "$findings" | sed "s|^|    input: $findings/|"
    fi
done
exit $failed
