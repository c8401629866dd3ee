#!/usr/bin/env bash
# Signs a release package for the updater with minisign: writes
# PACKAGE.minisig, whose trusted comment says what the signature is for with
# every field the updater requires (tab-separated):
#   timestamp:SECONDS  product:NAME  channel:NAME  size:BYTES  file:NAME
#
#   tools/sign-release.sh PACKAGE SECRET_KEY [MINISIGN OPTION...]
#
# RELEASE_PRODUCT (default korvanta) and RELEASE_CHANNEL (default stable)
# must be the UPDATER_PRODUCT and UPDATER_CHANNEL the updater was built with;
# RELEASE_TIMESTAMP (default: now) is the release's time. Further options go
# to minisign as they are (-x FILE writes the signature elsewhere). Sign each
# release later than the one before: the updater installs no release older
# than the installed one, and one of the same second only as the very same
# signature.
set -euo pipefail
if [ $# -lt 2 ] || [ ! -f "$1" ]; then
  echo "usage: $0 PACKAGE SECRET_KEY [MINISIGN OPTION...]" >&2
  exit 64
fi
package=$1
key=$2
shift 2
command -v minisign >/dev/null || { echo "sign-release.sh: minisign is missing" >&2; exit 1; }
size=$(wc -c <"$package")
comment=$(printf 'timestamp:%s\tproduct:%s\tchannel:%s\tsize:%s\tfile:%s' \
  "${RELEASE_TIMESTAMP:-$(date +%s)}" "${RELEASE_PRODUCT:-korvanta}" \
  "${RELEASE_CHANNEL:-stable}" "$((size))" "$(basename "$package")")
minisign -S -s "$key" -m "$package" -t "$comment" "$@"
