#!/usr/bin/env bash
# Starts or stops the Windows environment of one build tree: its own Wine
# prefix (made once), an Xvfb display and a persistent wineserver, so each
# Windows process then starts in milliseconds.
#   wine-session.sh start BUILD_DIR   |   wine-session.sh stop BUILD_DIR
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
state="$build/wine-session"
. "$build/wine-env"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "$action" in
start)
  mkdir -p "$state"
  # A 32-bit tree's programs run in a 64-bit (WOW64) prefix through its
  # syswow64 folder. A prefix made before wine32 was installed has none and
  # starts nothing ("could not load kernel32.dll"): make it again.
  wow64="$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"
  if [ "$TESSALOOM_WINE_BITS" = 32 ] && [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$wow64" ]; then
    echo "wine-session: $WINEPREFIX cannot run 32-bit programs; making it again" >&2
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$TESSALOOM_WINE" wineboot -i >"$state/wineboot.log" 2>&1
    wineserver -w
  fi
  if [ "$TESSALOOM_WINE_BITS" = 32 ] && [ ! -f "$wow64" ]; then
    echo "wine-session: $WINEPREFIX has no drive_c/windows/syswow64/kernel32.dll: is wine32:i386 installed?" >&2
    exit 1
  fi
  if [ -z "${TESSALOOM_DISPLAY:-}" ]; then
    # A display of our own, unless one is already alive from an earlier start.
    if ! { [ -f "$state/display" ] && xdpyinfo -display "$(cat "$state/display")" >/dev/null 2>&1; }; then
      for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        # Large enough for the window at 200 % (about 800 x 830 with its frame).
        nohup Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >"$state/xvfb.log" 2>&1 </dev/null &
        echo $! >"$state/xvfb.pid"
        for _ in $(seq 50); do xdpyinfo -display ":$n" >/dev/null 2>&1 && break; sleep 0.1; done
        echo ":$n" >"$state/display"
        break
      done
    fi
  else
    echo "$TESSALOOM_DISPLAY" >"$state/display"
  fi
  # Wine's desktop process keeps the display of the first program that starts it.
  DISPLAY=$(cat "$state/display")
  export DISPLAY
  nohup wineserver -p >/dev/null 2>&1 </dev/null &
  # Xvfb has no window manager to answer Wine, which then waits about two
  # seconds whenever a window goes; on a person's display the manager frames them.
  if [ -f "$state/xvfb.pid" ]; then managed=N; else managed=Y; fi
  "$TESSALOOM_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$managed" /f >/dev/null 2>&1 </dev/null
  # Start Wine's background services now, detached from any pipe: the first
  # Windows program of a session would otherwise hand them its output, and
  # whoever reads that output (ctest) would wait for them to end.
  "$TESSALOOM_WINE" cmd.exe /c exit >/dev/null 2>&1 </dev/null
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
  fi
  ;;
*)
  echo "usage: $0 start|stop BUILD_DIR" >&2
  exit 2
  ;;
esac
