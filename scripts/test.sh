#!/usr/bin/env bash
# Builds everything and runs every test: the portable core natively (with
# sanitizers), a short fuzz run of the update list reader, then the Windows
# build's unit, Win32 and end-to-end tests under Wine and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

if [ -x scripts/fuzz.sh ]; then
  # libFuzzer reports every new input; keep its last lines, which say how it ended.
  scripts/fuzz.sh "${TESSALOOM_FUZZ_SECONDS:-20}" 2>&1 | tail -n 6
fi

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
