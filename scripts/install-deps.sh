#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and packaging Korvex need, when
# missing.
# Quick and silent when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config make
    qt6-base-dev qt6-serialport-dev libgl-dev
    libinih-dev libjpeg-dev
    libgtest-dev libbenchmark-dev
    libcli11-dev
    srecord binutils
    xvfb xauth
    desktop-file-utils appstream help2man dpkg-dev
)
# make fuzz also needs clang with its fuzzing run-time.
[ "${1:-}" = fuzz ] && packages+=(clang libclang-rt-14-dev)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
