#!/usr/bin/env bash
# The Windows part of CI: cross-builds the windows-i686 preset, runs its tests
# under wine in a fresh prefix with code page 936, and checks updater.exe on an
# X display of its own:
#   - started with an address of another domain it shows dialog 102, caption
#     "更新下载" (screenshot: build/windows-i686/artifacts/dialog.png);
#   - started without an argument it shows message 1, caption "提示"
#     (screenshot: build/windows-i686/artifacts/message1.png).
# Usage: tools/windows/ci.sh   (from anywhere; exits non-zero on a failure)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$root/tools/windows
build=$root/build/windows-i686
artifacts=$build/artifacts
cd "$root"

step() { printf '\n== windows: %s\n' "$*"; }
fail() {
  printf 'windows: FAILED: %s\n' "$*" >&2
  exit 1
}

step "packages"
"$root/tools/install-deps.sh" windows

work=$(mktemp -d /tmp/updater-windows-ci.XXXXXX)
xvfb_pid=
program_pid=
cleanup() {
  set +e
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null; wait "$program_pid" 2>/dev/null; fi
  # Only this run's prefix: its wineserver and the programs in it.
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "X display and wine prefix"
# shellcheck source=tools/windows/xvfb.sh
. "$here/xvfb.sh"
start_xvfb
xvfb_pid=$XVFB_PID
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
"$here/make-prefix.sh" "$WINEPREFIX"
echo "DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX"

step "configure and build"
cmake --preset windows-i686
cmake --build --preset windows-i686 -j2

step "tests under wine"
ctest --preset windows-i686

updater=$build/src/app/updater.exe
file "$updater" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "updater.exe is not a 32-bit GUI program"
mkdir -p "$artifacts"

# Waits until a viewable top-level window titled $1 exists; prints its id.
wait_for_window() {
  local title=$1 id i
  for i in $(seq 1 150); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\": (" | awk '{print $1}' | head -n 1)
    if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
    kill -0 "$program_pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

stop_program() {
  kill "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=
  wineserver -w
}

step "updater.exe shows the update dialog"
# An address of another domain: the dialog stays open with its initial text
# and nothing is downloaded.
wine "$updater" "http://updates.example.invalid/update.zip" &
program_pid=$!
id=$(wait_for_window "更新下载") || fail "no window \"更新下载\" appeared"
sleep 1  # let wine finish drawing
import -window root "$artifacts/dialog.png"
echo "dialog window $id; screenshot $artifacts/dialog.png"
stop_program

step "updater.exe without an argument shows message 1"
wine "$updater" &
program_pid=$!
id=$(wait_for_window "提示") || fail "no message box \"提示\" appeared"
sleep 1
import -window root "$artifacts/message1.png"
echo "message box $id; screenshot $artifacts/message1.png"
stop_program

step "passed"
