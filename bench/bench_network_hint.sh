#!/usr/bin/env bash
# korvex-cli programming 64 KiB at 115200 baud through ser2net on the loopback address, in front
# of the line-rate simulated board: with "chardelay: false" as README sets it up, and with
# ser2net's default character delay, which holds each answer back. Prints the time, the share of
# the wire limit, the turnaround korvex-cli measured and whether the late-answer hint came; the
# hint must come with the character delay.
# Usage: bench_network_hint.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$ser2net" ] || { echo "missing ser2net (scripts/install-deps.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
head -c $((64 * 1024)) /dev/urandom >"$work/image.bin"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

echo "64 KiB at 0x01040000, EB40A, 115200 baud (line-rate model), through ser2net"
failed=0
for chardelay in false true; do
    "$sim" --type EB40A --speeds 115200 --line-rate --quiet --no-announce >"$work/sim.out" 2>&1 &
    pids=($!)
    for _ in $(seq 100); do
        [ -s "$work/sim.out" ] && break
        sleep 0.05
    done
    device=$(head -n 1 "$work/sim.out" | awk '{ print $NF }')
    port=$(free_port)
    cat >"$work/ser2net.yaml" <<EOF
connection: &board
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$port
  connector: serialdev,$device,115200n81,local
  options:
    chardelay: $chardelay
EOF
    "$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.05
    done
    "$cli" program "$work/image.bin" --address 0x01040000 --type EB40A \
        -p "rfc2217://127.0.0.1:$port" --json >"$work/result.json" 2>"$work/err.txt" || {
        echo "chardelay $chardelay: programming failed: $(cat "$work/err.txt")"
        failed=1
    }
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
    read -r bytes seconds measured < <(sed -E \
        's/.*"bytes":([0-9]+),.*"seconds":([0-9.]+),.*"turnaround_ms":([0-9.]+|null).*/\1 \2 \3/' \
        "$work/result.json")
    hints=$(grep -c "late through the server" "$work/err.txt" || true)
    verdict=ok
    if [ "$chardelay" = true ] && [ "$hints" != 1 ]; then
        verdict="WRONG (the hint should come)"
        failed=1
    fi
    printf -- 'chardelay: %-5s %6.2f s, %s of the wire limit, turnaround measured %s ms, hint %sx: %s\n' \
        "$chardelay" "$seconds" \
        "$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.3f", b / s / (11520 * 80 / 83) }')" \
        "$measured" "$hints" "$verdict"
done
echo "(the seconds include the synchronisation, the erase phase and the verify)"
exit "$failed"
