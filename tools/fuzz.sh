#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time over a copy of
# its saved corpus, tests/fuzz/corpus/<target>/. Prints the executions and
# crashes per target. An input that crashes, leaks, runs out of memory or
# times out is copied into the target's corpus as a regression case (the
# normal suite replays it from then on) and the script exits with status 1.
#   tools/fuzz.sh                    every target, FUZZ_SECONDS (default 60) each
#   tools/fuzz.sh archive read_line  only these
# Environment: FUZZ_SECONDS, UPDATER_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
jobs=${UPDATER_JOBS:-2}

all_targets=(response_header parse_url http_date chunked_body byte_ranges block_map read_line
  socks_reply clean_item_name archive signature_text)
if [ "$#" -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi
for t in "${targets[@]}"; do
  [ -d "tests/fuzz/corpus/$t" ] || { echo "fuzz: unknown target '$t'" >&2; exit 64; }
done

echo "== fuzz: configure and build" >&2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d "${TMPDIR:-/tmp}/updater-fuzz.XXXXXX")
# The archive target extracts into a scratch directory below FUZZ_SCRATCH: in
# memory where there is /dev/shm, and removed with the rest however the
# fuzzer ends.
scratch_parent=/dev/shm
[ -d "$scratch_parent" ] && [ -w "$scratch_parent" ] || scratch_parent=$work
export FUZZ_SCRATCH
FUZZ_SCRATCH=$(mktemp -d "$scratch_parent/updater-fuzz-scratch.XXXXXX")
trap 'rm -rf "$work" "$FUZZ_SCRATCH"' EXIT
# Sanitizer reports end the run; libFuzzer keeps the input that caused them.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1}

failed=0
printf '%-16s %8s %12s %8s\n' target seconds executions crashes
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp "tests/fuzz/corpus/$t"/* "$work/$t/corpus/"
  status=0
  "build/fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" \
    >"$work/$t/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
  spent=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$work/$t/log" | tail -1)
  crashes=0
  for artifact in "$work/$t/artifacts"/*; do
    [ -e "$artifact" ] || continue
    crashes=$((crashes + 1))
    cp "$artifact" "tests/fuzz/corpus/$t/"
    echo "fuzz: $t: kept $(basename "$artifact") as tests/fuzz/corpus/$t/$(basename "$artifact")" >&2
  done
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1  # ended abnormally without leaving an input
  fi
  printf '%-16s %8s %12s %8s\n' "$t" "${spent:-?}" "${runs:-?}" "$crashes"
  if [ "$crashes" -ne 0 ]; then
    failed=1
    echo "---- fuzz_$t log (end) ----" >&2
    tail -n 60 "$work/$t/log" >&2
  fi
done
exit "$failed"
