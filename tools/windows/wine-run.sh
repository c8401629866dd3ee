#!/usr/bin/env bash
# Runs a Windows program under wine the way the tests expect it: code page 936
# (LC_ALL=zh_CN.UTF-8), quiet wine, a prefix made for this, an X display, and
# the loader that fits the program (64-bit wine for a PE32+ program).
# CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR, so ctest calls it as
#   wine-run.sh PROGRAM.exe ARGS...
# WINEPREFIX and DISPLAY from the environment are used when set (tools/windows/ci.sh
# sets both); otherwise a prefix below ~/.cache is made once and an Xvfb is
# started for this one run.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The program's own header says which wine runs it.
case "$(file -b "$1")" in
  PE32+*) export UPDATER_WINDOWS_ARCH=x86_64 ;;
  *) export UPDATER_WINDOWS_ARCH=i686 ;;
esac
# shellcheck source=tools/windows/wine-env.sh
. "$here/wine-env.sh"
wine=$(wine_loader)

export LC_ALL=${UPDATER_WINE_LOCALE:-zh_CN.UTF-8}
export WINEDEBUG=${WINEDEBUG:--all}
# A crashing program ends with an error instead of waiting in wine's debugger.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d}
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=${XDG_CACHE_HOME:-$HOME/.cache}/updater-wine/prefix-$UPDATER_WINDOWS_ARCH
  export WINEPREFIX
  "$here/make-prefix.sh" "$WINEPREFIX"
fi

# With a display given, wine replaces this script, so a time-out that ends the
# test ends the program itself.
if [ -n "${DISPLAY:-}" ]; then
  exec "$wine" "$@"
fi

# shellcheck source=tools/windows/xvfb.sh
. "$here/xvfb.sh"
start_xvfb
program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
  kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 143' TERM INT
"$wine" "$@" &
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=
exit "$status"
