#!/usr/bin/env bash
# Sizes past 4 GiB end to end, too long for every CI run: a Zip64 package
# holding one item of 5 GiB + 12345 bytes (written as a hole, so it costs no
# disk where it is served) is
#   1. downloaded from the loopback nginx with a length, stopped past 2 GiB
#      (SIGINT keeps the part) and resumed with a Range beyond 2^31,
#   2. downloaded again as a chunked body (nginx's /chunked/, no length),
#   3. installed by updater-install,
# each checked for its size, with the wall time and the peak memory of the
# process (memory stays bounded: it does not grow with the file).
#   bench/large.sh [BUILD_DIR]      (default: build/release)
# Environment: BENCH_DIR (default /dev/shm: about 11 GB are written there).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release}
for tool in "$build/tools/updater-fetch" "$build/tools/updater-install"; do
  [ -x "$tool" ] || { echo "bench/large.sh: no $tool (build the release preset: cmake --preset release -DUPDATER_ALLOW_UNSIGNED=ON)" >&2; exit 64; }
done
default_dir=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && default_dir=/dev/shm
export BENCH_DIR=${BENCH_DIR:-$default_dir} BENCH_BUILD=$build BENCH_ROOT=$root

exec "$root/tests/peers/with-peers.sh" python3 - <<'PY'
import os, shutil, signal, subprocess, sys, tempfile, time, zlib

sys.path.insert(0, os.path.join(os.environ["BENCH_ROOT"], "tests", "archive"))
import make_archives  # noqa: E402

build, port = os.environ["BENCH_BUILD"], os.environ["UPDATER_TEST_HTTP_PORT"]
fetch, install = build + "/tools/updater-fetch", build + "/tools/updater-install"
item_size = (5 << 30) + 12345
zeros, crc, left = bytes(64 << 20), 0, item_size
while left:
    crc = zlib.crc32(zeros[:min(left, len(zeros))], crc)
    left -= min(left, len(zeros))
served = os.path.join(os.environ["UPDATER_TEST_DOCROOT"], "files", "large.zip")
make_archives.write_zip64_hole(served, "large.bin", item_size, crc)
size = os.path.getsize(served)
work = tempfile.mkdtemp(prefix="bench-large.", dir=os.environ["BENCH_DIR"])


def run(name, command, stop_at=None, watch=None):
    """Runs a command alone; its wall time and peak memory (resident, MiB)."""
    start = time.monotonic()
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    if stop_at is not None:
        while proc.poll() is None and (not os.path.exists(watch) or os.path.getsize(watch) < stop_at):
            time.sleep(0.05)
        proc.send_signal(signal.SIGINT)
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    print("  %-32s exit %d  %6.1f s  %7.1f MiB/s  peak %5.1f MiB"
          % (name, proc.returncode, wall, size / wall / 1048576, usage.ru_maxrss / 1024))
    return proc.returncode, err


def expect(condition, what):
    if not condition:
        raise SystemExit("bench/large.sh: " + what)


print("a %d-byte Zip64 package (one item of %d bytes) into %s" % (size, item_size, work))
target = os.path.join(work, "large.zip")
url = "http://127.0.0.1:%s/files/large.zip" % port
status, _ = run("download, stopped past 2 GiB", [fetch, "--quiet", url, target],
                stop_at=(2 << 30) + 4096, watch=target + ".down")
expect(status == 2 and os.path.getsize(target + ".down") > 1 << 31, "no part past 2 GiB was kept")
status, err = run("resumed with Range past 2^31", [fetch, "--quiet", url, target])
expect(status == 0 and os.path.getsize(target) == size, "the resume failed: %r" % err)
streamed = os.path.join(work, "streamed.zip")
status, err = run("chunked, without a length", [fetch, "--quiet", "--force",
                  "http://127.0.0.1:%s/chunked/large.zip" % port, streamed])
expect(status == 0 and os.path.getsize(streamed) == size, "the chunked download failed: %r" % err)
os.remove(streamed)
program = os.path.join(work, "program")
os.mkdir(program)
status, err = run("installed by updater-install", [install, target, program])
installed = os.path.join(program, "large.bin")
expect(status == 0 and os.path.getsize(installed) == item_size, "the install failed: %r" % err)
shutil.rmtree(work)
PY
