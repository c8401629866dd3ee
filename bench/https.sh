#!/usr/bin/env bash
# Download speed over TLS: a 256 MiB file from the loopback nginx's https
# server (tests/peers/tls-peers.sh: TLS 1.3, a P-256 certificate from the
# test CA), fetched by updater-fetch --quiet and by curl, both trusting that
# CA, in alternating pairs under farm-bench; prints its report, whose ratio
# is updater-fetch / curl pair by pair.
#   bench/https.sh [PATH/updater-fetch]      (default: build/release/tools/updater-fetch)
# Environment: BENCH_ROUNDS (pairs, default 9), BENCH_FILE_MIB (default 256),
# BENCH_DIR (where the downloads go; default /dev/shm when it exists).
set -euo pipefail

# shellcheck source=bench/fetch-bench.sh
. "$(dirname "${BASH_SOURCE[0]}")/fetch-bench.sh"
fetch_bench_setup https.sh 256 "${1:-}"

exec "$root/tests/peers/with-peers.sh" bash -c '
  set -euo pipefail
  url="https://localhost:$UPDATER_TEST_HTTPS_PORT/files/huge.bin"
  size=$(stat -c %s "$UPDATER_TEST_DOCROOT/files/huge.bin")
  work=$(mktemp -d "$BENCH_DIR/bench-https.XXXXXX")
  trap "rm -rf \"$work\"" EXIT
  echo "$((size >> 20)) MiB over TLS from loopback nginx into $BENCH_DIR, $BENCH_ROUNDS pairs"
  farm-bench -n "$BENCH_ROUNDS" --timeout 1200 \
    --vs "curl -s --cacert $UPDATER_TEST_TLS_CA -o $work/curl.bin $url" \
    -- "$BENCH_FETCH" --quiet --force --cacert "$UPDATER_TEST_TLS_CA" "$url" "$work/fetch.bin"
  for f in curl fetch; do
    [ "$(stat -c %s "$work/$f.bin")" = "$size" ] || { echo "bench/https.sh: $f wrote a wrong size" >&2; exit 1; }
  done
  cmp -s "$work/curl.bin" "$work/fetch.bin" || { echo "bench/https.sh: the downloads differ" >&2; exit 1; }
'
