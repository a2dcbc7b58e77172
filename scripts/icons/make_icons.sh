#!/usr/bin/env bash
# Rebuilds the tool-bar icons in src/window/resources from make_icons.cpp.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -O1 "$here/make_icons.cpp" -o "$tmp/make_icons" \
    $(pkg-config --cflags --libs Qt6Gui)
mkdir -p "$root/src/window/resources"
QT_QPA_PLATFORM=offscreen "$tmp/make_icons" "$root/src/window/resources"
