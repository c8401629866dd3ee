#!/usr/bin/env bash
# Runs a Windows program under wine the way the tests expect it: code page 936
# (LC_ALL=zh_CN.UTF-8), quiet wine, a prefix made for this, an X display.
# CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR, so ctest calls it as
#   wine-run.sh PROGRAM.exe ARGS...
# WINEPREFIX and DISPLAY from the environment are used when set (tools/windows/ci.sh
# sets both); otherwise a prefix below ~/.cache is made once and an Xvfb is
# started for this one run.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

export LC_ALL=${UPDATER_WINE_LOCALE:-zh_CN.UTF-8}
export WINEDEBUG=${WINEDEBUG:--all}
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=${XDG_CACHE_HOME:-$HOME/.cache}/updater-wine/prefix
  export WINEPREFIX
  "$here/make-prefix.sh" "$WINEPREFIX"
fi

xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/windows/xvfb.sh
  . "$here/xvfb.sh"
  start_xvfb
  xvfb_pid=$XVFB_PID
fi

status=0
wine "$@" || status=$?
exit "$status"
