#!/usr/bin/env bash
# Fetches one of Debian's source packages into a cache directory and prints
# the path of the unpacked tree. The Windows build compiles third-party code
# from there (minizip from zlib's package); nothing of it goes into the source
# tree. Idempotent: a tree that already holds CHECK_FILE is reused.
#   tools/windows/fetch-debian-source.sh CACHE_DIR PACKAGE VERSION TREE CHECK_FILE
# VERSION is the main suite's version: the security suite serves no sources.
set -euo pipefail

usage="usage: fetch-debian-source.sh CACHE_DIR PACKAGE VERSION TREE CHECK_FILE"
cache_dir=${1:?$usage}
package=${2:?$usage}
version=${3:?$usage}
tree=${4:?$usage}
check_file=${5:?$usage}

if [ -f "$cache_dir/$tree/$check_file" ]; then
  echo "$cache_dir/$tree"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get source needs a deb-src entry for the main suite. It names the same
# mirror as the machine's own deb entry, so the project names no host and
# works behind whatever mirror the machine uses.
sources=/etc/apt/sources.list.d/updater-deb-src.sources
if ! apt-cache showsrc "$package" 2>/dev/null | grep -q "^Version: ${version#*:}\$"; then
  if [ ! -f "$sources" ]; then
    uri=$(awk '/^Types:/ { deb = / deb( |$)/ } deb && /^URIs:/ { print $2; exit }' \
      /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
    [ -n "$uri" ] || { echo "fetch-debian-source: no deb entry to take the mirror from" >&2; exit 1; }
    printf '%s\n' 'Types: deb-src' "URIs: $uri" 'Suites: bookworm' 'Components: main' \
      'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      "${sudo_cmd[@]}" tee "$sources" >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get update -qq >&2
fi

mkdir -p "$cache_dir"
work=$(mktemp -d "$cache_dir/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq "$package=$version" >&2)
[ -f "$work/$tree/$check_file" ] || { echo "fetch-debian-source: no $check_file in $tree" >&2; exit 1; }
rm -rf "${cache_dir:?}/$tree"
mv "$work/$tree" "$cache_dir/$tree"
echo "$cache_dir/$tree"
