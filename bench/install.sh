#!/usr/bin/env bash
# The whole install against `bsdtar -xf`: updater-install (the updater's own
# install transaction: recovery check, staging with CRC-32 checks, the data
# brought to the disk, journal, commit) and bsdtar, each into a new empty
# directory, in turn (the order alternating from round to round), on the
# benchmark archive of about 200 MB in 2,000 items. Each run starts after a
# `sync` outside its timing, so that neither pays for the other's write-back.
# Prints the median wall and CPU seconds, the largest peak memory and the
# median of the per-round ratios.
#
#   bench/install.sh [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR]
#
# BUILD_DIR holds tools/updater-install (default build/release:
#   cmake --preset release -DUPDATER_ALLOW_UNSIGNED=ON &&
#   cmake --build --preset release --target updater-install).
# The archive is written once into WORK_DIR (default BUILD_DIR/bench-work).
# Nothing is deleted until all rounds are done (see archive.sh: ext4 skips
# inodes freed in the last minutes when it creates files, which would charge
# one runner for the other's deletions).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
rounds=5
build="$here/../build/release"
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    -n) rounds=$2; shift 2 ;;
    -b) build=$2; shift 2 ;;
    -w) work=$2; shift 2 ;;
    *) echo "usage: $0 [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR]" >&2; exit 64 ;;
  esac
done
work=${work:-$build/bench-work}
installer="$build/tools/updater-install"
[ -x "$installer" ] || { echo "install.sh: $installer not built" >&2; exit 1; }
for tool in bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "install.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$work"
archive="$work/bench.zip"
[ -f "$archive" ] || python3 "$here/make_bench_archive.py" "$archive"
cat "$archive" >/dev/null

runs="$work/install-runs.$$"
mkdir -p "$runs"
chattr +T "$runs" 2>/dev/null || true
results="$work/install-results.txt"
: >"$results"
runners=(updater-install bsdtar)
for ((round = 1; round <= rounds; round++)); do
  for ((i = 0; i < 2; i++)); do
    runner=${runners[(i + round) % 2]}
    target="$runs/$runner-$round"
    mkdir "$target"
    case "$runner" in
      updater-install) cmd=("$installer" "$archive" "$target") ;;
      bsdtar) cmd=(bsdtar -xf "$archive" -C "$target") ;;
    esac
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.$$" "${cmd[@]}" >/dev/null
    echo "$runner $(cat "$work/time.$$")" >>"$results"
    echo "round $round: $runner $(cat "$work/time.$$") (wall user sys peak-KiB)" >&2
  done
done
rm -rf "$runs" "$work/time.$$"

python3 - "$results" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
def col(runner, i):
    return [float(r[i]) for r in rows if r[0] == runner]
print("median of %d rounds: wall s, cpu s (user + system), peak KiB (largest)" % len(col("bsdtar", 1)))
for r in ("updater-install", "bsdtar"):
    cpu = [u + s for u, s in zip(col(r, 2), col(r, 3))]
    print("%-16s %7.3f %7.3f %8d" % (r, statistics.median(col(r, 1)), statistics.median(cpu),
                                     max(col(r, 4))))
ratios = [a / b for a, b in zip(col("updater-install", 1), col("bsdtar", 1))]
print("updater-install / bsdtar, wall: median %.2f (min %.2f, max %.2f)" %
      (statistics.median(ratios), min(ratios), max(ratios)))
PY
