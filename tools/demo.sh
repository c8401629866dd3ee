#!/usr/bin/env bash
# The updater's main job on a bundled sample: a scratch program directory with
# the updater and a stand-in Korvanta.exe, a sample update.zip served from a
# loopback HTTP server, and one real run of the updater against it. The vendor
# key is made here: the updater is built with it (build/demo) and the sample
# is signed with it as a vendor signs a release (tools/sign-release.sh), so
# the run verifies the package before installing it.
# Ends by itself and removes its server and files (KEEP=1 keeps the files).
# Exits 0 when the update was installed and the main application started;
# otherwise non-zero, with a one-line reason on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh demo

work=$(mktemp -d /tmp/updater-demo.XXXXXX)
server_pid=
# The clean-up keeps the script's own exit status: the server it kills ends
# with a signal, which must not become the demo's result.
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ "${KEEP:-0}" = 1 ]; then echo "files kept in $work"; else rm -rf "$work"; fi
  exit "$status"
}
trap cleanup EXIT
fail() {
  echo "demo: $*" >&2
  exit 1
}

minisign -G -W -p "$work/vendor.pub" -s "$work/vendor.key" >/dev/null
cmake --preset debug -B build/demo -DUPDATER_BUILD_TESTS=OFF \
  -DUPDATER_PUBLIC_KEY="$(sed -n 2p "$work/vendor.pub")" >/dev/null
cmake --build build/demo --target updater korvanta-standin -j2 >/dev/null

program=$work/program
docroot=$work/docroot
mkdir -p "$program" "$docroot/korvanta.test" "$work/stage/plugins" "$work/stage/docs"
cp build/demo/src/app/updater "$program/"
cp build/demo/tools/Korvanta.exe "$program/"
echo "version 1" >"$program/korvanta-data.txt"

# The sample update: a new data file, a few files and a subdirectory.
echo "version 2" >"$work/stage/korvanta-data.txt"
printf 'Korvanta 2.0\n' >"$work/stage/README.txt"
printf '[toolbar]\nbutton=online-upgrade\n' >"$work/stage/plugins/velmora.ini"
head -c 8000000 /dev/urandom >"$work/stage/docs/manual.bin"
(cd "$work/stage" && zip -qr "$docroot/korvanta.test/update.zip" .)
tools/sign-release.sh "$docroot/korvanta.test/update.zip" "$work/vendor.key" >/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$docroot" "$port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done

url="http://127.0.0.1:$port/korvanta.test/update.zip"
echo "program directory: $program"
echo "running: updater $url"
# The sample is served on loopback: no proxy of the user's lies on its way.
env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY -u no_proxy -u NO_PROXY \
  "$program/updater" "$url" || fail "the updater exited with status $?"

# The updater does not wait for the program it starts.
for _ in $(seq 50); do [ -s "$program/Korvanta.log" ] && break; sleep 0.1; done
echo
echo "program directory after the update:"
(cd "$program" && find . -type f | sort | sed 's/^/  /')
echo "korvanta-data.txt: $(cat "$program/korvanta-data.txt")"
cmp -s "$work/stage/docs/manual.bin" "$program/docs/manual.bin" &&
  [ "$(cat "$program/korvanta-data.txt")" = "version 2" ] ||
  fail "the update was not installed"
echo "verified release: $(sed -n 's/^trusted comment: //p' "$program/installed-release.minisig")"
[ -s "$program/Korvanta.log" ] || fail "Korvanta.exe was not started"
echo "Korvanta.exe started: $(cat "$program/Korvanta.log")"
