#!/usr/bin/env bash
# Installs from Debian's packages everything the build, the tests, the demo and
# the benchmarks need. Safe to run again: it installs only what is missing, and
# says nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest            # native build and unit tests
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev  # the 32-bit Windows cross build
  wine wine64 wine32:i386 xvfb xauth x11-utils  # running and showing the (32-bit) Windows programs
  imagemagick                                 # screenshots
  clang libclang-rt-14-dev                    # the fuzz target (libFuzzer)
  python3 python3-pil fonts-dejavu-core       # redrawing the pictures
  python3-fuse fuse                           # the slow drive of the end-to-end tests
  fonts-liberation2                           # Arial's metrics for the window's text under Wine
  dosfstools fusefat exfatprogs exfat-fuse    # FAT and exFAT drives for the tests
  osslsigncode openssl                        # signed test files for the signature checks
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# wine32 is an i386 package: the architecture must be known to dpkg first.
added_i386=false
if [ "$(dpkg --print-architecture)" != i386 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  added_i386=true
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})) || $added_i386; then
  $sudo apt-get update -qq
fi
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
