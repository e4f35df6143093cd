#!/usr/bin/env bash
# Installs from Debian's packages everything the build, the tests, the demo and
# the benchmarks need. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest            # native build and unit tests
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev  # Windows cross build
  wine wine64 xvfb xauth x11-utils            # running and showing the Windows programs
  imagemagick                                 # screenshots
  clang libclang-rt-14-dev                    # the fuzz target (libFuzzer)
  python3 python3-pil fonts-dejavu-core       # redrawing the pictures
  python3-fuse fuse                           # the slow drive of the end-to-end tests
  fonts-liberation2                           # Arial's metrics for the window's text under Wine
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
