#!/usr/bin/env bash
# Download speed of the engine against curl: a 512 MiB file from nginx on
# loopback, fetched in turn by `curl -o`, by updater-fetch with progress
# records (notifications on) and by updater-fetch --quiet (notifications
# off), ROUNDS times each; prints the medians and their ratios.
#   bench/http.sh [PATH/updater-fetch]      (default: build/release/tools/updater-fetch)
# Environment: BENCH_ROUNDS (default 9), BENCH_FILE_MIB (default 512), BENCH_DIR
# (where the downloads go; default /dev/shm when it exists, so that disk
# write-back does not blur the figures).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fetch=${1:-$root/build/release/tools/updater-fetch}
[ -x "$fetch" ] || { echo "bench/http.sh: no updater-fetch at $fetch (build the release preset: cmake --preset release -DUPDATER_ALLOW_UNSIGNED=ON)" >&2; exit 64; }
command -v curl >/dev/null || { echo "bench/http.sh: curl is missing" >&2; exit 1; }
export BENCH_ROUNDS=${BENCH_ROUNDS:-9}
default_dir=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && default_dir=/dev/shm
export BENCH_DIR=${BENCH_DIR:-$default_dir}
export UPDATER_TEST_BIG_FILE_MIB=${BENCH_FILE_MIB:-512}
export BENCH_FETCH=$fetch

exec "$root/tests/peers/with-peers.sh" python3 - <<'PY'
import os, resource, statistics, subprocess, tempfile, time

url = "http://127.0.0.1:%s/files/huge.bin" % os.environ["UPDATER_TEST_HTTP_PORT"]
fetch = os.environ["BENCH_FETCH"]
rounds = int(os.environ["BENCH_ROUNDS"])
size = os.path.getsize(os.path.join(os.environ["UPDATER_TEST_DOCROOT"], "files", "huge.bin"))
work = tempfile.mkdtemp(prefix="bench-http.", dir=os.environ["BENCH_DIR"])
out = os.path.join(work, "huge.bin")

runs = {
    "curl -o": ["curl", "-s", "-o", out, url],
    "updater-fetch (notifications on)": [fetch, "--force", url, out],
    "updater-fetch --quiet (notifications off)": [fetch, "--quiet", "--force", url, out],
}
times = {name: [] for name in runs}
cpu = {name: [] for name in runs}
order = list(runs)
for r in range(rounds):
    # Each round starts with another contestant, so that no one always runs
    # right after the same neighbour.
    for name in order[r % len(order):] + order[:r % len(order)]:
        command = runs[name]
        if os.path.exists(out):
            os.remove(out)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[name].append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu[name].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
        if os.path.getsize(out) != size:
            raise SystemExit("%s wrote %d bytes, not %d" % (name, os.path.getsize(out), size))
os.remove(out)
os.rmdir(work)

median = {name: statistics.median(t) for name, t in times.items()}
print("%d MiB from loopback nginx into %s, %d rounds, medians:"
      % (size >> 20, os.environ["BENCH_DIR"], rounds))
for name, m in median.items():
    print("  %-44s %7.3f s wall  %7.0f MiB/s  %6.3f s CPU"
          % (name, m, size / m / 1048576, statistics.median(cpu[name])))
on = median["updater-fetch (notifications on)"]
off = median["updater-fetch --quiet (notifications off)"]
print("ratio engine/curl (notifications on):  %.3f" % (on / median["curl -o"]))
print("ratio engine/curl (notifications off): %.3f" % (off / median["curl -o"]))
print("cost of notifications: %+.1f %%" % ((on / off - 1) * 100))
PY
