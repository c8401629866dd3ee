#!/usr/bin/env bash
# Builds the updater and runs every test: the Linux suites (normal, with
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded ones with
# ThreadSanitizer), a bounded fuzz pass, and the Windows build under wine.
# Installs what is missing.
#   tools/test.sh            everything
#   tools/test.sh linux      only the Linux presets
set -euo pipefail
cd "$(dirname "$0")/.."
scope=${1:-all}
jobs=${UPDATER_JOBS:-2}

tools/install-deps.sh test
[ "$scope" = linux ] || tools/install-deps.sh windows

# Any sanitizer report fails the run: the code is built with
# -fno-sanitize-recover=all, and each sanitizer stops at its first report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# run_preset PRESET [CTEST ARGS...]; CONFIGURE_ARGS adds cache settings.
run_preset() {
  local preset=$1; shift
  echo "== $preset: configure and build ${CONFIGURE_ARGS:-}" >&2
  # shellcheck disable=SC2086
  cmake --preset "$preset" ${CONFIGURE_ARGS:-} >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "== $preset: tests" >&2
  ctest --preset "$preset" -j"$jobs" "$@"
}

run_preset debug
# The sanitizer build is made for a second vendor domain: its whole suite, the
# end-to-end and fault runs among it, shows that every test takes the domain
# from the build it tests.
CONFIGURE_ARGS=-DUPDATER_VENDOR_DOMAIN=${UPDATER_SECOND_DOMAIN:-orinta-b.test} run_preset asan
run_preset tsan -L threads
# The coverage build: fails when line coverage of src/ falls below
# tools/coverage-threshold.
UPDATER_JOBS=$jobs tools/coverage.sh

# A bounded fuzz pass: every target for FUZZ_SECONDS (30 here) over its saved
# corpus; an input that fails is kept in tests/fuzz/corpus/ and fails the run.
FUZZ_SECONDS=${FUZZ_SECONDS:-30} UPDATER_JOBS=$jobs tools/fuzz.sh

if [ "$scope" != linux ] && [ -x tools/windows/ci.sh ]; then
  tools/windows/ci.sh
fi
