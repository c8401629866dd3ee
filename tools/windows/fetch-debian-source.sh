#!/usr/bin/env bash
# Fetches one version of a Debian source package into a cache directory and
# prints the path of the unpacked tree. Nothing of it goes into the source
# tree. Idempotent: a tree that already holds MARKER is reused.
#   tools/windows/fetch-debian-source.sh CACHE_DIR PACKAGE VERSION TREE MARKER
# e.g. fetch-debian-source.sh /var/cache/updater libsodium 1.0.18-1+deb12u1 \
#        libsodium-1.0.18 src/libsodium/include/sodium.h
set -euo pipefail

if [ "$#" -ne 5 ]; then
  echo "usage: fetch-debian-source.sh CACHE_DIR PACKAGE VERSION TREE MARKER" >&2
  exit 64
fi
cache_dir=$1 package=$2 version=$3 tree=$4 marker=$5

if [ -f "$cache_dir/$tree/$marker" ]; then
  echo "$cache_dir/$tree"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get source needs a deb-src entry. It names the mirror and the main suite
# of the machine's own "Types: deb" entry (the security suite serves no
# sources, so the version is asked for explicitly).
sources=/etc/apt/sources.list.d/updater-deb-src.sources
if ! apt-cache showsrc "$package" 2>/dev/null | grep -qxF "Version: ${version#*:}"; then
  if [ ! -f "$sources" ]; then
    entry=$(awk -v RS= '/(^|\n)Types:([^\n]* )?deb( |\n|$)/ && !/-security/ {print; exit}' \
      /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    uri=$(printf '%s\n' "$entry" | sed -n 's/^URIs: *\([^ ]*\).*/\1/p')
    suite=$(printf '%s\n' "$entry" | sed -n 's/^Suites: *\([^ ]*\).*/\1/p')
    keyring=$(printf '%s\n' "$entry" | sed -n 's/^Signed-By: *//p')
    # A root made by debootstrap has the one-line form in sources.list instead.
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
      line=$(grep -E '^deb[[:space:]]' /etc/apt/sources.list | grep -v -- '-security' | head -n 1 |
        sed -E 's/\[[^]]*\]//')
      uri=$(printf '%s\n' "$line" | awk '{print $2}')
      suite=$(printf '%s\n' "$line" | awk '{print $3}')
    fi
    if [ -z "$uri" ] || [ -z "$suite" ]; then
      echo "fetch-debian-source: no Debian 'deb' entry in /etc/apt/sources.list.d/debian.sources or /etc/apt/sources.list" >&2
      exit 1
    fi
    {
      echo 'Types: deb-src'
      echo "URIs: $uri"
      echo "Suites: $suite"
      echo 'Components: main'
      [ -z "$keyring" ] || echo "Signed-By: $keyring"
    } | "${sudo_cmd[@]}" tee "$sources" >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get update -qq >&2
fi

mkdir -p "$cache_dir"
work=$(mktemp -d "$cache_dir/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq "$package=$version" >&2)
[ -f "$work/$tree/$marker" ] || { echo "fetch-debian-source: no $marker in $tree" >&2; exit 1; }
rm -rf "${cache_dir:?}/$tree"
mv "$work/$tree" "$cache_dir/$tree"
echo "$cache_dir/$tree"
