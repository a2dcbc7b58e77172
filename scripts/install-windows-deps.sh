#!/usr/bin/env bash
# Installs the Debian packages the Windows build of the general library needs, when missing: the
# mingw-w64 cross compiler (posix threads, for std::this_thread), Wine to run its tests, and
# CMake, Ninja and the GoogleTest sources. Quick and silent when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build libgtest-dev
    g++-mingw-w64-x86-64-posix
    wine wine64
)

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
