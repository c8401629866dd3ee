#!/usr/bin/env bash
# Fetches Debian's zlib source package (which holds minizip in contrib/minizip)
# into a cache directory and prints the path of the unpacked tree. Nothing of it
# goes into the source tree. Idempotent: a tree already unpacked is reused.
#   tools/windows/fetch-zlib-source.sh CACHE_DIR
set -euo pipefail

cache_dir=${1:?usage: fetch-zlib-source.sh CACHE_DIR}
version=1:1.2.13.dfsg-1
tree=zlib-1.2.13.dfsg

if [ -f "$cache_dir/$tree/contrib/minizip/unzip.c" ]; then
  echo "$cache_dir/$tree"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get source needs a deb-src entry for the main suite; the security suite
# serves no sources, so the main suite's version is asked for explicitly.
sources=/etc/apt/sources.list.d/updater-deb-src.sources
if ! apt-cache showsrc zlib 2>/dev/null | grep -q "^Version: ${version#*:}\$"; then
  if [ ! -f "$sources" ]; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      "${sudo_cmd[@]}" tee "$sources" >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get update -qq >&2
fi

mkdir -p "$cache_dir"
work=$(mktemp -d "$cache_dir/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq "zlib=$version" >&2)
[ -f "$work/$tree/contrib/minizip/unzip.c" ] || { echo "fetch-zlib-source: no minizip in $tree" >&2; exit 1; }
rm -rf "${cache_dir:?}/$tree"
mv "$work/$tree" "$cache_dir/$tree"
echo "$cache_dir/$tree"
