#!/usr/bin/env bash
# Builds everything and runs every test: the portable core natively (with
# sanitizers), a short fuzz run of the update list reader, then the Windows
# build's unit, Win32 and end-to-end tests under Wine and Xvfb, and the checks
# of the shipped exe that only Windows would make.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-arch.sh

scripts/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

if [ -x scripts/fuzz.sh ]; then
  # libFuzzer reports every new input; keep its last lines, which say how it ended.
  scripts/fuzz.sh "${TESSALOOM_FUZZ_SECONDS:-20}" 2>&1 | tail -n 6
fi

# The shipped 32-bit exe is always built and checked as it is.
cmake --preset windows >/dev/null
if [ "$TESSALOOM_WINDOWS_ARCH" = i686 ]; then
  echo "Windows tests: on the shipped i686 build under 32-bit Wine ($TESSALOOM_WINDOWS_WHY)"
  cmake --build --preset windows
  ctest --preset windows
else
  cmake --build --preset windows --target TessaloomUpdate
  ctest --preset windows --label-regex static
  echo "Windows tests: on the x86_64 build under 64-bit Wine ($TESSALOOM_WINDOWS_WHY)"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64
  ctest --preset windows64
fi
