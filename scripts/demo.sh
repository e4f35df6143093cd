#!/usr/bin/env bash
# The demo: the real TessaloomUpdate.exe under Wine on a prepared demo folder
# (build/demo) with an update pending. With a display, you drive the window;
# without one it runs under Xvfb, presses "Update" itself and saves what it
# showed as build/demo/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-arch.sh

scripts/install-deps.sh
cmake --preset "$TESSALOOM_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TESSALOOM_WINDOWS_PRESET" --target TessaloomUpdate fake_target demo_driver

build=build/$TESSALOOM_WINDOWS_PRESET
demo=build/demo
mkdir -p "$demo"
mode=()
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export TESSALOOM_DISPLAY=$DISPLAY
  mode=(--interactive)
fi
echo "Demo: the $TESSALOOM_WINDOWS_ARCH build ($TESSALOOM_WINDOWS_WHY)"
scripts/wine-session.sh start "$build"
trap 'scripts/wine-session.sh stop "$build"' EXIT

windows_demo="Z:$(pwd)/$demo"
"$build/wine-run" "$build/tests/demo_driver.exe" "${windows_demo//\//\\}" "${mode[@]}"

for shot in "$demo"/*.bmp; do
  [ -e "$shot" ] || continue
  convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  echo "Saved ${shot%.bmp}.png"
done
