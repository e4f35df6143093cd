#!/usr/bin/env bash
# Installs from Debian's packages everything the build, the tests, the demo and
# the benchmarks need. Safe to run again: it installs only what is missing, and
# says nothing when everything is there.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-arch.sh

packages=(
  cmake ninja-build g++ googletest            # native build and unit tests
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev  # the shipped 32-bit exe
  wine wine64 xvfb xauth x11-utils            # running and showing the Windows programs
  imagemagick                                 # screenshots
  clang libclang-rt-14-dev                    # the fuzz target (libFuzzer)
  python3 python3-pil fonts-dejavu-core       # redrawing the pictures
  python3-pefile                              # what Windows checks in the exe and Wine does not
  python3-fuse fuse                           # the slow and the power-loss drives of the end-to-end tests
  fonts-liberation2                           # Arial's metrics for the window's text under Wine
  dosfstools fusefat exfatprogs exfat-fuse    # FAT and exFAT drives for the tests
  osslsigncode openssl                        # signed test files for the signature checks
)
if [ "$TESSALOOM_WINDOWS_ARCH" = i686 ]; then
  # The Windows programs are tested as shipped, 32-bit, under 32-bit Wine.
  packages+=(wine32:i386)
else
  # No 32-bit Wine where the kernel runs no 32-bit programs: with it
  # installed, /usr/bin/wine would pick its loader and start nothing. The
  # same tree is built for 64-bit Windows and tested under 64-bit Wine.
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# wine32 is an i386 package: the architecture must be known to dpkg first.
added_i386=false
if [ "$TESSALOOM_WINDOWS_ARCH" = i686 ] && [ "$(dpkg --print-architecture)" != i386 ] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
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
