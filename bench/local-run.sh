#!/usr/bin/env bash
# The updater's whole local-archive run against `bsdtar -xf` followed by
# `sync -f`: both leave the package's files on the disk. The updater runs as
# the main application starts it, `updater --silent PACKAGE` from a new
# program directory that holds it and a Korvanta.exe stand-in: recovery check,
# the 3 s wait, the signature (signed build), the install transaction, the
# start of Korvanta.exe, the log. Its fixed wait (3000 ms, measured as such)
# is subtracted from its wall time. Both builds the vendor can ship run: one
# without a key and one with a key, whose package is signed with that key.
# Each round runs the three in turn, the order rotating from round to round,
# each into a new empty directory after a `sync` outside its timing. Prints
# the median wall and CPU seconds, the largest peak memory and the median of
# the per-round ratios against bsdtar + sync.
#
#   bench/local-run.sh [-n ROUNDS] [-b BUILD_DIR] [-w WORK_DIR]
#
# BUILD_DIR (default build/release) holds src/app/updater, tests/
# updater-signed-test with its key tests/test-keys/vendor.key, and
# tools/Korvanta.exe:
#   cmake --preset release -DUPDATER_ALLOW_UNSIGNED=ON &&
#   cmake --build --preset release --target updater updater-signed-test korvanta-standin
# The package (about 100 MB in 2,000 items) is written once into WORK_DIR
# (default BUILD_DIR/bench-work). Nothing is deleted until all rounds are
# done (see directory-rounds.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/directory-rounds.sh"
rounds=7
round_options "$@"
unsigned="$build/src/app/updater"
signed="$build/tests/updater-signed-test"
key="$build/tests/test-keys/vendor.key"
standin="$build/tools/Korvanta.exe"
for file in "$unsigned" "$signed" "$key" "$standin"; do
  [ -e "$file" ] || { echo "local-run.sh: $file not built" >&2; exit 1; }
done
for tool in bsdtar minisign python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "local-run.sh: $tool is missing" >&2; exit 1; }
done
wait_s=3.000  # the updater's fixed wait before a local install

package="$work/local-run.zip"
[ -f "$package" ] || python3 "$here/make_bench_archive.py" "$package" 2000 1 370000
# Signed anew each time: the key belongs to the build tree.
"$here/../tools/sign-release.sh" "$package" "$key" -q
cat "$package" >/dev/null

start_runs local-run
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
runners=(unsigned signed bsdtar)
for ((round = 1; round <= rounds; round++)); do
  for ((i = 0; i < 3; i++)); do
    runner=${runners[(i + round) % 3]}
    target="$runs/$runner-$round"
    mkdir "$target"
    case "$runner" in
      bsdtar) cmd=(sh -c 'bsdtar -xf "$1" -C "$2" && sync -f "$2"' sh "$package" "$target") ;;
      *)
        program=$unsigned
        [ "$runner" = signed ] && program=$signed
        cp "$program" "$target/updater"
        cp "$standin" "$target/Korvanta.exe"
        cmd=("$target/updater" --silent "$package")
        ;;
    esac
    sync
    start=$EPOCHREALTIME
    /usr/bin/time -f "%U %S %M" -o "$work/time.$$" "${cmd[@]}" >/dev/null
    end=$EPOCHREALTIME
    if [ "$runner" != bsdtar ] && ! grep -q "relaunch: .*: started" "$target/updater.log"; then
      echo "local-run.sh: the $runner run did not install and start the application:" >&2
      cat "$target/updater.log" >&2
      exit 1
    fi
    wall=$(python3 -c "print('%.4f' % ($end - $start - ($wait_s if '$runner' != 'bsdtar' else 0)))")
    echo "$runner $wall $(cat "$work/time.$$")" >>"$results"
    echo "round $round: $runner $wall $(cat "$work/time.$$") (wall user sys peak-KiB)" >&2
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
rm -rf "$runs" "$work/time.$$"

summarize " (the updater's less its 3 s wait)" bsdtar unsigned signed
