#!/usr/bin/env bash
# Builds the general library's Windows code and its unit tests with mingw-w64 and runs the
# tests under Wine: installs what is missing, configures ./build-windows (or the folder given),
# builds, runs. Wine gets its own prefix inside the build folder, no display and no input.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}

scripts/install-deps.sh windows

cmake -S windows -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/windows/mingw-w64.cmake" >/dev/null
cmake --build "$build" --parallel 2

export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs when the prefix is made; nothing needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot --init </dev/null >/dev/null 2>&1
    wineserver -w
fi
ctest --test-dir "$build" --output-on-failure -j2 </dev/null
