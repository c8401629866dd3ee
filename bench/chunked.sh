#!/usr/bin/env bash
# Download speed of a chunked body: a 256 MiB file that the loopback nginx
# streams through proxy_pass without a length (tests/peers/nginx.conf.in,
# /chunked/), so it arrives with Transfer-Encoding: chunked. updater-fetch
# --quiet (A) and curl (B) in alternating pairs under farm-bench; its report's
# ratio is updater-fetch / curl pair by pair. Both downloads are compared
# with the served file.
#   bench/chunked.sh [PATH/updater-fetch]      (default: build/release/tools/updater-fetch)
# Environment: BENCH_ROUNDS (pairs, default 9), BENCH_FILE_MIB (default 256),
# BENCH_DIR (where the downloads go; default /dev/shm when it exists).
set -euo pipefail

# shellcheck source=bench/fetch-bench.sh
. "$(dirname "${BASH_SOURCE[0]}")/fetch-bench.sh"
fetch_bench_setup chunked.sh 256 "${1:-}"

exec "$root/tests/peers/with-peers.sh" bash -c '
  set -euo pipefail
  url="http://127.0.0.1:$UPDATER_TEST_HTTP_PORT/chunked/huge.bin"
  served="$UPDATER_TEST_DOCROOT/files/huge.bin"
  work=$(mktemp -d "$BENCH_DIR/bench-chunked.XXXXXX")
  trap "rm -rf \"$work\"" EXIT
  curl -s -D "$work/header" -o /dev/null "$url"
  grep -qi "^Transfer-Encoding: chunked" "$work/header" ||
    { echo "bench/chunked.sh: nginx did not send the body chunked" >&2; exit 1; }
  echo "$(($(stat -c %s "$served") >> 20)) MiB chunked from loopback nginx into $BENCH_DIR, $BENCH_ROUNDS pairs"
  farm-bench -n "$BENCH_ROUNDS" --timeout 1200 \
    --vs "curl -s -o $work/curl.bin $url" \
    -- "$BENCH_FETCH" --quiet --force "$url" "$work/fetch.bin"
  for f in curl fetch; do
    cmp -s "$served" "$work/$f.bin" || { echo "bench/chunked.sh: $f.bin differs from the served file" >&2; exit 1; }
  done
'
