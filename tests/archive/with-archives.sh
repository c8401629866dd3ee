#!/usr/bin/env bash
# Runs a test program with the archive tests' archives prepared beforehand:
# prepare_archives.py writes them with the Linux archivers into a fresh
# directory, UPDATER_TEST_ARCHIVES names it, and the directory goes when the
# program ends. TZ=UTC for the archivers and the program alike, so that DOS
# times mean the same to both.
#   with-archives.sh [--dos-path] PROGRAM ARGS...
# With --dos-path the directory is named as a Windows program under wine sees
# it: through drive Z:, which a wine prefix maps to "/". The Windows build's
# ctest runs the archive suite as
#   with-archives.sh --dos-path wine-run.sh archive_tests.exe
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

dos_path=0
if [ "${1:-}" = --dos-path ]; then
  dos_path=1
  shift
fi
[ $# -gt 0 ] || { echo "usage: with-archives.sh [--dos-path] PROGRAM ARGS..." >&2; exit 64; }

export TZ=UTC
dir=$(mktemp -d "${TMPDIR:-/tmp}/updater-archives.XXXXXX")
trap 'rm -rf "$dir"' EXIT
python3 "$here/prepare_archives.py" "$dir"

if [ "$dos_path" -eq 1 ]; then
  UPDATER_TEST_ARCHIVES="Z:${dir//\//\\}"
else
  UPDATER_TEST_ARCHIVES=$dir
fi
export UPDATER_TEST_ARCHIVES
status=0
"$@" || status=$?
exit "$status"
