#!/usr/bin/env bash
# Delta updates against the whole download: the updater's whole run (silent,
# start delay, download, install, relaunch of the stand-in) on a package of
# 200 stored items of about 50 KiB (10 MiB) in which 5 % of the items changed
# (the others byte-identical, same times), from nginx on loopback. Both runs
# start from the same program directory, the previous package in it and on
# the disk (as the last update left it): one from a server that publishes
# the new package's block map beside it (delta), one from a server that does
# not (whole, which downloads the package and replaces the previous one), in
# turn, the order alternating from round to round. Prints the median
# wall seconds of each, their ratio (with and without the fixed start delay
# of 1 s), the bytes nginx sent for each run and the largest peak memory.
# Where the build has the updater built with the test key
# (tests/updater-signed-test, the package signed with tests/test-keys/
# vendor.key), its delta and whole runs take their turns in the same rounds:
# the vendor ships the updater with a key, so that is the pair that counts.
# With BENCH_LARGE_MIB=N, one more delta run on a package of N MiB (1024 for
# 1 GiB; needs about 4 N MiB of disk in BENCH_DIR) prints its peak memory.
#
#   bench/delta.sh [-n ROUNDS] [-b BUILD_DIR]
#
# BUILD_DIR holds src/app/updater, tools/updater-blockmap and
# tools/Korvanta.exe (default build/release: cmake --preset release
# -DUPDATER_ALLOW_UNSIGNED=ON && cmake --build --preset release).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=7
build="$root/build/release"
while [ $# -gt 0 ]; do
  case "$1" in
    -n) rounds=$2; shift 2 ;;
    -b) build=$2; shift 2 ;;
    *) echo "usage: $0 [-n ROUNDS] [-b BUILD_DIR]" >&2; exit 64 ;;
  esac
done
for program in src/app/updater tools/updater-blockmap tools/Korvanta.exe; do
  [ -x "$build/$program" ] || { echo "delta.sh: $build/$program not built" >&2; exit 1; }
done
domain=$(sed -n 's/^UPDATER_VENDOR_DOMAIN:[A-Z]*=//p' "$build/CMakeCache.txt")
export BENCH_BUILD=$build BENCH_ROUNDS=$rounds BENCH_DOMAIN=${domain:-korvanta.test}
export BENCH_DIR=${BENCH_DIR:-/tmp} BENCH_LARGE_MIB=${BENCH_LARGE_MIB:-0}
export BENCH_SIGN="$root/tools/sign-release.sh"

exec "$root/tests/peers/with-peers.sh" python3 - <<'PY'
import os, random, shutil, statistics, subprocess, tempfile, time, zipfile

build, domain = os.environ["BENCH_BUILD"], os.environ["BENCH_DOMAIN"]
updaters = {"unsigned": os.path.join(build, "src/app/updater")}
signed, key = os.path.join(build, "tests/updater-signed-test"), os.path.join(build, "tests/test-keys/vendor.key")
if os.path.exists(signed) and os.path.exists(key) and shutil.which("minisign"):
    updaters["signed"] = signed
docroot, port = os.environ["UPDATER_TEST_DOCROOT"], os.environ["UPDATER_TEST_HTTP_PORT"]
access_log = os.environ["UPDATER_TEST_NGINX_ACCESS_LOG"]
work = tempfile.mkdtemp(prefix="bench-delta.", dir=os.environ["BENCH_DIR"])
START_DELAY = 1.0


# 200 stored items of `size` bytes; an item of seed s + 1000 has the name and
# length of item s and other bytes.
def make_package(path, seeds, size):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for seed in seeds:
            info = zipfile.ZipInfo("items/%05d.bin" % (seed % 1000), (2021, 5, 6, 7, 8, 10))
            with z.open(info, "w", force_zip64=size > 1 << 30) as item:
                generator = random.Random(seed)
                for left in range(size, 0, -(1 << 20)):
                    item.write(generator.randbytes(min(left, 1 << 20)))


def publish(case, seeds, size, with_map=True):
    directory = os.path.join(docroot, "files", domain, case)
    os.makedirs(directory, exist_ok=True)
    package = os.path.join(directory, "update.zip")
    make_package(package, seeds, size)
    if with_map:
        subprocess.run([os.path.join(build, "tools/updater-blockmap"), package], check=True)
    if "signed" in updaters:
        subprocess.run([os.environ["BENCH_SIGN"], package, key, "-q"], check=True)
    return package, "http://127.0.0.1:%s/files/%s/%s/update.zip" % (port, domain, case)


# A new directory for each run: nothing is deleted until all rounds are done
# (ext4 skips inodes freed in the last minutes when it creates files, which
# would charge each run for the one before).
def program_dir(name, updater, previous):
    path = tempfile.mkdtemp(prefix=name + ".", dir=work)
    shutil.copy2(updater, os.path.join(path, "updater"))
    shutil.copy2(os.path.join(build, "tools/Korvanta.exe"), path)
    package = os.path.join(path, "update.zip")
    shutil.copy(previous, package)
    os.utime(package, (1000000000, 1000000000))
    # Written to the disk long ago: replacing it frees its blocks.
    with open(package, "rb") as f:
        os.fsync(f.fileno())
    return path


# One silent run: wall seconds (with the start of /usr/bin/time, the same for
# both), peak memory (KiB) and the bytes nginx sent.
def run(path, url):
    logged = os.path.getsize(access_log)
    start = time.perf_counter()
    # /usr/bin/time reports the updater's own peak (a fork of this script
    # would carry the script's).
    done = subprocess.run(["/usr/bin/time", "-f", "%M", os.path.join(path, "updater"), "--silent",
                           url], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit("the run in %s failed" % path)
    peak = int(done.stderr.split()[-1])
    with open(access_log) as f:
        f.seek(logged)
        sent = sum(int(line.split(" ")[3]) for line in f if line.startswith("GET "))
    return wall, peak, sent


old = list(range(200))
new = [s + 1000 if s % 20 == 7 else s for s in old]
previous = os.path.join(work, "previous.zip")
make_package(previous, old, 50 * 1024)
package, url = publish("bench-delta", new, 50 * 1024)
urls = {"delta": url, "whole": publish("bench-whole", new, 50 * 1024, with_map=False)[1]}
size = os.path.getsize(package)
rounds = int(os.environ["BENCH_ROUNDS"])
runners = [(build_name, name) for build_name in updaters for name in ("delta", "whole")]
figures = {runner: [] for runner in runners}
for r in range(rounds):
    # Every runner takes every place in the order in turn.
    for build_name, name in runners[r % len(runners):] + runners[:r % len(runners)]:
        path = program_dir(name, updaters[build_name], previous)
        figures[(build_name, name)].append(run(path, urls[name]))
        with open(os.path.join(path, "update.zip"), "rb") as got, open(package, "rb") as want:
            if got.read() != want.read():
                raise SystemExit("the %s run did not end with the package" % name)
shutil.rmtree(work)

median = {runner: statistics.median(f[0] for f in runs) for runner, runs in figures.items()}
sent = {runner: statistics.median(f[2] for f in runs) for runner, runs in figures.items()}
print("package %d bytes, 200 items, 5 %% changed, %d rounds, medians:" % (size, rounds))
for runner in runners:
    print("  %-8s %-6s %7.3f s wall  %9d bytes sent (%.1f %% of the package)  peak %d KiB"
          % (runner + (median[runner], sent[runner], 100.0 * sent[runner] / size,
                       max(f[1] for f in figures[runner]))))
for build_name in updaters:
    delta, whole = median[(build_name, "delta")], median[(build_name, "whole")]
    pairs = [d[0] / w[0] for d, w in zip(figures[(build_name, "delta")],
                                         figures[(build_name, "whole")])]
    print("%s: ratio delta/whole %.3f (without the start delay: %.3f; median of the rounds' "
          "ratios %.3f)" % (build_name, delta / whole, (delta - START_DELAY) / (whole - START_DELAY),
                           statistics.median(pairs)))

large = int(os.environ["BENCH_LARGE_MIB"])
if large:
    work = tempfile.mkdtemp(prefix="bench-delta.", dir=os.environ["BENCH_DIR"])
    item = large * 1024 * 1024 // 200
    previous = os.path.join(work, "previous.zip")
    make_package(previous, old, item)
    package, url = publish("bench-delta-large", new, item)
    wall, peak, sent_bytes = run(program_dir("large", updaters["unsigned"], previous), url)
    print("large: package %d bytes, delta run %.1f s, %d bytes sent, peak %d KiB"
          % (os.path.getsize(package), wall, sent_bytes, peak))
    shutil.rmtree(work)
    shutil.rmtree(os.path.dirname(package))
PY
