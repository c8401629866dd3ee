#!/usr/bin/env bash
# Makes a wine prefix for the updater's tests at PREFIX unless it exists:
# created under LC_ALL=zh_CN.UTF-8, so its ANSI code page is 936 (GBK), and
# waited for, so the first program does not wait for wine's set-up. The loader
# (32-bit or 64-bit wine) is the one tools/windows/wine-env.sh chooses.
#   tools/windows/make-prefix.sh PREFIX
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=${1:?usage: make-prefix.sh PREFIX}
mkdir -p "$(dirname "$prefix")"
# shellcheck source=tools/windows/wine-env.sh
. "$here/wine-env.sh"
wine=$(wine_loader)

# One maker at a time (ctest may start several tests at once).
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.updater-ready" ]; then exit 0; fi

rm -rf "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
# No Mono or Gecko download prompts; the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
env -u DISPLAY "$wine" wineboot -i >/dev/null 2>&1
# Windows that no window manager looks after: Xvfb runs none, and wine would
# otherwise wait up to two seconds for one whenever a window is hidden.
env -u DISPLAY "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# wine 8 reports Windows 7 by default; this one copy of the http tests is told
# Windows 10, so that the handshakes also run with the newer credentials.
env -u DISPLAY "$wine" reg add 'HKCU\Software\Wine\AppDefaults\http_tests_win10.exe' /v Version \
  /t REG_SZ /d win10 /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.updater-ready"
