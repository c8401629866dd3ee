#!/usr/bin/env bash
# Builds the updater and runs every test: the Linux suites (normal, with
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded ones with
# ThreadSanitizer) and the Windows build under wine. Installs what is missing.
#   tools/test.sh            everything
#   tools/test.sh linux      only the Linux presets
set -euo pipefail
cd "$(dirname "$0")/.."
scope=${1:-all}
jobs=${UPDATER_JOBS:-2}

tools/install-deps.sh test
[ "$scope" = linux ] || tools/install-deps.sh windows

run_preset() {
  local preset=$1; shift
  echo "== $preset: configure and build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "== $preset: tests" >&2
  ctest --preset "$preset" -j"$jobs" "$@"
}

run_preset debug
run_preset asan
run_preset tsan -L threads

if [ "$scope" != linux ] && [ -x tools/windows/ci.sh ]; then
  tools/windows/ci.sh
fi
