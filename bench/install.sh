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
source "$here/directory-rounds.sh"
rounds=5
round_options "$@"
installer="$build/tools/updater-install"
[ -x "$installer" ] || { echo "install.sh: $installer not built" >&2; exit 1; }
for tool in bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "install.sh: $tool is missing" >&2; exit 1; }
done

archive="$work/bench.zip"
[ -f "$archive" ] || python3 "$here/make_bench_archive.py" "$archive"
cat "$archive" >/dev/null

start_runs install
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

summarize "" bsdtar updater-install
