#!/usr/bin/env bash
# Builds the Windows preset and runs the benchmarks under Wine, printing their figures.
#   bench/run.sh [startup|discovery|apply [COUNTxKB ...] [OTHER.exe]]   (all three by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-arch.sh
scripts/install-deps.sh
cmake --preset "$TESSALOOM_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TESSALOOM_WINDOWS_PRESET" --target bench
build=build/$TESSALOOM_WINDOWS_PRESET
scripts/wine-session.sh start "$build"
# A RAM disk for "apply": a tmpfs the prefix sees under Z:, where flushes cost
# nothing. Mounting needs root; without it that half of "apply" is skipped.
ram="$build/ram-drive"
mkdir -p "$ram"
if ! mountpoint -q "$ram" && mount -t tmpfs -o size=2g tmpfs "$ram" 2>/dev/null; then
  touch "$ram/mounted"
fi
# Where this runs in a virtual machine whose host takes back guest memory as
# soon as it is free (free page reporting), every page the copies write must
# first be faulted back in by the host: that cost, not the contenders, then
# decides a round, and it comes and goes. Held free pages stay in the guest
# for a minute, which covers a round (the knob exists only on such kernels;
# it is put back after).
held=/sys/module/page_reporting/parameters/min_free_ms
holding=
if [[ -w $held ]] && holding=$(cat "$held") && echo 60000 >"$held" 2>/dev/null; then
  echo "bench: free memory held in this virtual machine for the run ($held)"
else
  holding=
fi
trap '[[ -z $holding ]] || echo "$holding" >"$held"; scripts/wine-session.sh stop "$build"; mountpoint -q "$ram" && umount "$ram"' EXIT
bench() { "$build/wine-run" "$build/bench/bench.exe" "$@"; }
case "${1:-all}" in
all) for one in startup discovery apply; do bench "$one"; done ;;
apply)
  # bench/run.sh apply [COUNTxKB ...] [OTHER.exe]: each shape in turn (20
  # files of 10 MB unless said), with another build of the updater if named
  shift
  shapes=() other=()
  for word in "$@"; do
    case "$word" in
    *.exe) other=("Z:$(realpath "$word")") ;;
    *) shapes+=("$word") ;;
    esac
  done
  ((${#shapes[@]})) || shapes=(20x10000)
  for shape in "${shapes[@]}"; do bench apply "$shape" "${other[@]}"; done
  ;;
*) bench "$@" ;;
esac
