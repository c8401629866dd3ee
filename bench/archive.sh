#!/usr/bin/env bash
# Extraction speed of the archive facade against `unzip -o -q` and `bsdtar -xf`
# on one archive of about 200 MB in about 2,000 items (stored and deflated).
# Each round runs the three in turn (the order rotating from round to round),
# each into a new directory ("fresh"), and then again over the files of that
# run ("over", as an update does). Prints the median wall and CPU seconds
# (user + system; less disturbed than wall time on a busy machine) and the
# medians of the per-round ratios.
#
#   bench/archive.sh [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR] [--flush]
#
# BUILD_DIR holds bench/archive_bench (default build/archive-rel, made by
#   cmake --preset release -B build/archive-rel -DUPDATER_ALLOW_UNSIGNED=ON &&
#   cmake --build build/archive-rel --target archive_bench).
# The archive is written once into WORK_DIR (default BUILD_DIR/bench-work);
# a WORK_DIR on tmpfs (/dev/shm/...) leaves the disk's file system out.
# --flush adds a run of the facade that forces each file to the disk.
#
# Nothing is deleted until all rounds are done: ext4 does not reuse inodes
# freed in the last minutes, and every file created in a block group with
# many of them pays for scanning past them, which would charge one runner
# for the deletions of another. The runs' directories are also spread over
# the block groups (chattr +T) to keep them apart.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
rounds=5
build="$here/../build/archive-rel"
work=""
flush=0
while [ $# -gt 0 ]; do
  case "$1" in
    -n) rounds=$2; shift 2 ;;
    -b) build=$2; shift 2 ;;
    -w) work=$2; shift 2 ;;
    --flush) flush=1; shift ;;
    *) echo "usage: $0 [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR] [--flush]" >&2; exit 64 ;;
  esac
done
work=${work:-$build/bench-work}
driver="$build/bench/archive_bench"
[ -x "$driver" ] || { echo "archive.sh: $driver not built" >&2; exit 1; }
for tool in unzip bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "archive.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$work"
archive="$work/bench.zip"
[ -f "$archive" ] || python3 "$here/make_bench_archive.py" "$archive"
cat "$archive" >/dev/null  # into the page cache before the first round

runners=(facade unzip bsdtar)
[ "$flush" -eq 0 ] || runners+=(facade-flush)

command_for() {  # runner target: the command of one run, into cmd
  case "$1" in
    facade) cmd=("$driver" "$archive" "$2") ;;
    facade-flush) cmd=("$driver" "$archive" "$2" --flush) ;;
    unzip) cmd=(unzip -o -q "$archive" -d "$2") ;;
    bsdtar) mkdir -p "$2" && cmd=(bsdtar -xf "$archive" -C "$2") ;;
  esac
}

measure() {  # runner target: "WALL CPU" seconds of one run (CPU = user + system)
  local cmd start end
  command_for "$1" "$2"
  sync  # earlier runs' dirty pages are not written back during this one
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$work/cpu.$$" "${cmd[@]}" >/dev/null
  end=$(date +%s%N)
  awk -v wall="$(( (end - start) / 1000 ))" '{ printf "%.3f %.3f", wall / 1e6, $1 + $2 }' \
    "$work/cpu.$$"
}

results="$work/results.txt"
: >"$results"
runs="$work/runs.$$"
rm -rf "$work"/runs.*
mkdir -p "$runs"
# Spread the runs' directories over the block groups, as for top-level ones.
chattr +T "$runs" 2>/dev/null || true
for ((round = 1; round <= rounds; round++)); do
  for ((i = 0; i < ${#runners[@]}; i++)); do
    runner=${runners[(i + round) % ${#runners[@]}]}
    target="$runs/$runner-$round"
    fresh=$(measure "$runner" "$target")
    over=$(measure "$runner" "$target")
    echo "$runner fresh $fresh" >>"$results"
    echo "$runner over $over" >>"$results"
    echo "round $round: $runner fresh $fresh over $over (wall cpu)" >&2
  done
done
rm -rf "$runs" "$work/cpu.$$"

python3 - "$results" "${runners[@]}" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
runners = sys.argv[2:]
kinds = ("fresh", "over")
def times(runner, kind, column):  # column 2: wall, 3: CPU
    return [float(r[column]) for r in rows if r[0] == runner and r[1] == kind]
rounds = len(times(runners[0], "fresh", 2))
print("median of %d rounds, seconds (wall, and CPU = user + system)" % rounds)
print("%-14s %8s %8s %8s %8s" % ("", "fresh", "cpu", "over", "cpu"))
for r in runners:
    print("%-14s" % r + "".join(" %8.3f" % statistics.median(times(r, k, c))
                               for k in kinds for c in (2, 3)))
print("median ratios of the rounds")
pairs = [("facade", "bsdtar"), ("facade", "unzip"), ("unzip", "bsdtar")]
if "facade-flush" in runners:
    pairs.append(("facade-flush", "facade"))
for a, b in pairs:
    print("%-22s" % (a + " / " + b) + "".join(
        " %8.2f" % statistics.median(x / y for x, y in zip(times(a, k, c), times(b, k, c)))
        for k in kinds for c in (2, 3)))
PY
