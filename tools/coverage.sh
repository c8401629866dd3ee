#!/usr/bin/env bash
# Builds the coverage preset, runs the Linux suite with its peers and prints
# the line and branch coverage of src/ on its last line:
#   coverage: lines NN.N% branches NN.N%
# Exits non-zero when a test fails or when line coverage of src/ falls below
# the figure in tools/coverage-threshold.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${UPDATER_JOBS:-2}
build=build/coverage

tools/install-deps.sh test
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j"$jobs"
find "$build" -name '*.gcda' -delete
ctest --preset coverage -j"$jobs"

# Branches that only exceptions take are left out: the code returns failures.
# The text report goes into the build tree: gcovr replaces the file it is
# given, so a device such as /dev/null must never be named there. Should gcov
# still print a line that gcovr cannot parse (a negative branch count, as
# counters updated without atomics by several threads once gave), gcovr
# reports it on stderr and leaves it out instead of failing the run.
summary=$(gcovr --root . --filter 'src/' --exclude-throw-branches --gcov-ignore-parse-errors \
  --print-summary --output "$build/coverage.txt" "$build")
# Percentages from the counts, so that the gate does not see a rounded figure.
percent() { sed -n "s/^$1: .*(\([0-9]*\) out of \([0-9]*\)).*/\1 \2/p" <<<"$summary" |
  awk '{ if ($2 > 0) printf "%.2f", 100 * $1 / $2 }'; }
lines=$(percent lines)
branches=$(percent branches)
[ -n "$lines" ] && [ -n "$branches" ] || { echo "coverage: no summary from gcovr" >&2; exit 1; }
threshold=$(tr -d '[:space:]' <tools/coverage-threshold)
status=0
if awk -v l="$lines" -v t="$threshold" 'BEGIN { exit !(l < t) }'; then
  echo "coverage: line coverage of src/ (${lines}%) is below the threshold of ${threshold}%" >&2
  status=1
fi
printf 'coverage: lines %.1f%% branches %.1f%%\n' "$lines" "$branches"
exit "$status"
