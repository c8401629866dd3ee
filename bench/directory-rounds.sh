# What the benchmarks that install into new directories share (sourced by
# install.sh and local-run.sh): the options, the directories of the runs and
# the summary of their times.
#
# round_options "$@": reads [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR] into
# `rounds`, `build` (made absolute) and `work` (default BUILD_DIR/bench-work,
# made); the caller sets the default `rounds` first.
round_options() {
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
  build=$(cd "$build" && pwd)
  work=${work:-$build/bench-work}
  mkdir -p "$work"
}

# start_runs NAME: `runs`, a new directory for the runs' directories, spread
# over the block groups (chattr +T); `results`, an empty file for one line
# per run: RUNNER WALL USER SYSTEM PEAK-KIB. Nothing is deleted until all
# rounds are done: ext4 does not hand out inodes freed in the last minutes,
# which would charge one runner for the other's deletions.
start_runs() {
  runs="$work/$1-runs.$$"
  mkdir -p "$runs"
  chattr +T "$runs" 2>/dev/null || true
  results="$work/$1-results.txt"
  : >"$results"
}

# summarize WHAT REFERENCE RUNNER...: the median wall and CPU seconds and
# the largest peak of each runner, and the median of each RUNNER's per-round
# ratios of wall time against REFERENCE.
summarize() {
  python3 - "$results" "$@" <<'PY'
import statistics, sys
results, what, reference, runners = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
rows = [l.split() for l in open(results)]
def col(runner, i):
    return [float(r[i]) for r in rows if r[0] == runner]
print("median of %d rounds: wall s%s, cpu s (user + system), peak KiB (largest)"
      % (len(col(reference, 1)), what))
for r in runners + [reference]:
    cpu = [u + s for u, s in zip(col(r, 2), col(r, 3))]
    print("%-16s %7.3f %7.3f %8d" % (r, statistics.median(col(r, 1)), statistics.median(cpu),
                                     max(col(r, 4))))
for r in runners:
    ratios = [a / b for a, b in zip(col(r, 1), col(reference, 1))]
    print("%s / %s, wall: median %.2f (min %.2f, max %.2f)" %
          (r, reference, statistics.median(ratios), min(ratios), max(ratios)))
PY
}
