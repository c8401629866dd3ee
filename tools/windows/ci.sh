#!/usr/bin/env bash
# The Windows part of CI.
#   - Always cross-builds the product, the 32-bit windows-i686 preset, and checks
#     its updater.exe without running it (tools/windows/check-program.sh): a
#     PE32 GUI program for i386 that needs only system DLLs and carries dialog
#     102, icon group 128 and its version information.
#   - Runs the Windows test suites under wine: the i686 build under 32-bit wine
#     where this machine runs 32-bit code, otherwise the windows-x86_64 build
#     (the same sources) under 64-bit wine. It says which it chose; a run that
#     tests no Windows program fails.
#   - Checks that build's updater.exe on an X display of its own:
#       started with an address of another domain it shows dialog 102, caption
#       "更新下载" (screenshot: build/<preset>/artifacts/dialog.png);
#       started without an argument it shows message 1, caption "提示"
#       (screenshot: build/<preset>/artifacts/message1.png).
# UPDATER_WINDOWS_ARCH=i686 or x86_64 chooses the tested build by hand.
# Usage: tools/windows/ci.sh   (from anywhere; exits non-zero on a failure)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$root/tools/windows
cd "$root"

step() { printf '\n== windows: %s\n' "$*"; }
fail() {
  printf 'windows: FAILED: %s\n' "$*" >&2
  exit 1
}

# shellcheck source=tools/windows/wine-env.sh
. "$here/wine-env.sh"
if machine_runs_i386; then runs_i386="runs"; else runs_i386="cannot run"; fi
preset=$UPDATER_WINDOWS_PRESET
build=$root/build/$preset
artifacts=$build/artifacts
wine=$(wine_loader)

step "packages"
"$root/tools/install-deps.sh" windows

step "the product: windows-i686"
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j2
"$here/check-program.sh" i686 "$root/build/windows-i686/src/app/updater.exe"

step "tested build: $preset under $(basename "$wine") (this machine $runs_i386 32-bit code)"
if [ "$preset" != windows-i686 ]; then
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  "$here/check-program.sh" "$UPDATER_WINDOWS_ARCH" "$build/src/app/updater.exe"
fi

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
echo "DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX loader=$wine"

step "tests of $preset under wine"
ctest --preset "$preset" --no-tests=error 2>&1 | tee "$work/ctest.log"
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$work/ctest.log" || true)
[ -n "$summary" ] || fail "ctest ran no Windows test"
echo "windows ($preset under $(basename "$wine")): $summary"

updater=$build/src/app/updater.exe
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
"$wine" "$updater" "http://updates.example.invalid/update.zip" &
program_pid=$!
id=$(wait_for_window "更新下载") || fail "no window \"更新下载\" appeared"
sleep 1  # let wine finish drawing
import -window root "$artifacts/dialog.png"
echo "dialog window $id; screenshot $artifacts/dialog.png"
stop_program

step "updater.exe without an argument shows message 1"
"$wine" "$updater" &
program_pid=$!
id=$(wait_for_window "提示") || fail "no message box \"提示\" appeared"
sleep 1
import -window root "$artifacts/message1.png"
echo "message box $id; screenshot $artifacts/message1.png"
stop_program

step "passed: $preset under $(basename "$wine"), $summary"
