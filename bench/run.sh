#!/usr/bin/env bash
# Builds the Windows preset and runs the benchmarks under Wine, printing their figures.
#   bench/run.sh [startup|discovery|apply ...]   (all three by default)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target bench
build=build/windows
scripts/wine-session.sh start "$build"
trap 'scripts/wine-session.sh stop "$build"' EXIT
for what in "${@:-startup discovery apply}"; do
  for one in $what; do "$build/wine-run" "$build/bench/bench.exe" "$one"; done
done
