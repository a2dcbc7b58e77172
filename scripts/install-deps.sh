#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and packaging Korvex need, when
# missing; "fuzz" adds what the fuzz targets need, "windows" only what the Windows check needs.
# Quick and silent when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config make
    qt6-base-dev qt6-serialport-dev libgl-dev
    libinih-dev libjpeg-dev libelf-dev
    libgtest-dev libbenchmark-dev
    libcli11-dev
    srecord binutils binutils-arm-none-eabi
    ser2net
    python3-labgrid python3-pytest
    xvfb xauth
    desktop-file-utils appstream help2man dpkg-dev
)
case "${1:-}" in
# make fuzz also needs clang with its fuzzing run-time.
fuzz) packages+=(clang libclang-rt-14-dev) ;;
# The Windows check: the mingw-w64 cross compiler (posix threads, for std::this_thread), Wine to
# run its tests, and CMake, Ninja and the GoogleTest sources.
windows) packages=(cmake ninja-build libgtest-dev g++-mingw-w64-x86-64-posix wine wine64) ;;
esac

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
