#!/usr/bin/env bash
# Builds the update list reader's fuzz target (the `fuzz` preset: clang,
# libFuzzer, ASan, UBSan) and runs it over the committed seeds for a number
# of seconds (default 600).
#   scripts/fuzz.sh [seconds]
# New inputs the fuzzer finds go to build/fuzz/corpus, never into fuzz/corpus;
# a crash or hang leaves its input in build/fuzz/ and fails the script.
set -euo pipefail

seconds="${1:-600}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target update_list_fuzz >/dev/null
mkdir -p "$out/corpus"

cd "$out"
exec ./fuzz/update_list_fuzz \
  -max_total_time="$seconds" -timeout=10 -max_len=4096 \
  -dict="$root/fuzz/update_list.dict" -artifact_prefix="$out/" -print_final_stats=1 \
  "$out/corpus" "$root/fuzz/corpus"
