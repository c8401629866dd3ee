#!/usr/bin/env bash
# Starts the loopback peers of the engine's tests, runs a command with their
# addresses in its environment, stops the peers and returns the command's
# status:
#   tests/peers/with-peers.sh COMMAND [ARGS...]
# Peers: nginx (static files and redirects, over http and, with certificates
# of every kind, https: tls-peers.sh), tinyproxy without and with Basic
# authentication. Each listens on 127.0.0.1 at a free port. The command sees
#   UPDATER_TEST_HTTP_PORT, UPDATER_TEST_DOCROOT (files/ below it),
#   UPDATER_TEST_NGINX_ACCESS_LOG, UPDATER_TEST_TINYPROXY_PORT,
#   UPDATER_TEST_TINYPROXY_AUTH_PORT, UPDATER_TEST_TINYPROXY_USER,
#   UPDATER_TEST_TINYPROXY_PASS, UPDATER_TEST_PEERS_DIR.
# Set UPDATER_TEST_BIG_FILE_MIB to add files/huge.bin of that many MiB.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ "$#" -ge 1 ] || { echo "usage: with-peers.sh COMMAND [ARGS...]" >&2; exit 64; }

for tool in nginx tinyproxy python3 openssl; do
  command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
    { echo "with-peers: $tool is missing (tools/install-deps.sh test)" >&2; exit 1; }
done
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
tinyproxy_bin=$(command -v tinyproxy || echo /usr/sbin/tinyproxy)

peers_dir=$(mktemp -d "${TMPDIR:-/tmp}/updater-peers.XXXXXX")
chmod 755 "$peers_dir"
pids=()
stop_peers() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$peers_dir"
}
trap stop_peers EXIT

# Ports: the system picks free ones; they are released just before the peers
# take them. A stock /etc/hosts maps "localhost" to 127.0.0.1 and ::1, and a
# proxy that resolves it for a test may reach either, so nginx also listens on
# [::1] at the same port wherever the machine has IPv6 loopback (the last
# field says whether it does).
read -r http_port proxy_port auth_proxy_port has_v6 < <(python3 - <<'PY'
import socket
def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    return s
has_v6 = 0
for _ in range(50):
    http = free_port()
    try:
        v6 = socket.socket(socket.AF_INET6)
        v6.bind(("::1", http.getsockname()[1]))
        has_v6 = 1
        break
    except OSError as e:
        if e.errno != 98:  # anything but EADDRINUSE: no IPv6 loopback here
            break
socks = [http, free_port(), free_port()]
print(" ".join(str(s.getsockname()[1]) for s in socks), has_v6)
PY
)
listen_v6=""
[ "$has_v6" -eq 0 ] || listen_v6="listen [::1]:$http_port;"

# Files served.
docroot="$peers_dir/docroot"
mkdir -p "$docroot/files/Mixed"
head -c $((3 * 1024 * 1024 + 4321)) /dev/urandom >"$docroot/files/big.bin"
head -c 1000 /dev/urandom >"$docroot/files/Mixed/Case.BIN"
printf 'hello from nginx\n' >"$docroot/files/small.txt"
: >"$docroot/files/empty.bin"
if command -v zip >/dev/null 2>&1; then
  mkdir -p "$peers_dir/zip-src/data"
  printf 'first item\n' >"$peers_dir/zip-src/readme.txt"
  head -c 200000 /dev/urandom >"$peers_dir/zip-src/data/payload.bin"
  (cd "$peers_dir/zip-src" && zip -q -r "$docroot/files/update.zip" .)
else
  head -c 300000 /dev/urandom >"$docroot/files/update.zip"
fi
if [ -n "${UPDATER_TEST_BIG_FILE_MIB:-}" ]; then
  head -c $((UPDATER_TEST_BIG_FILE_MIB * 1024 * 1024)) /dev/urandom >"$docroot/files/huge.bin"
fi
# A Last-Modified well in the past, so that a file written now differs from it.
touch -d '2021-03-04 05:06:07 UTC' "$docroot"/files/* "$docroot"/files/Mixed/*
# shellcheck source=tests/peers/tls-peers.sh
. "$here/tls-peers.sh"
chmod -R a+rX "$peers_dir"

user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user root root;"
sed -e "s|@PEERS_DIR@|$peers_dir|g" -e "s|@DOCROOT@|$docroot|g" -e "s|@PORT@|$http_port|g" \
  -e "s|@LISTEN_V6@|$listen_v6|" -e "s|@USER_LINE@|$user_line|" -e "s|@HTTPS_PORT@|$https_port|g" \
  "$here/nginx.conf.in" >"$peers_dir/nginx.conf"
"$nginx_bin" -p "$peers_dir" -e "$peers_dir/nginx-error.log" -c "$peers_dir/nginx.conf" \
  >"$peers_dir/nginx.out" 2>&1 &
pids+=($!)

proxy_user=updater
proxy_pass="s3cret-$$"
for kind in plain auth; do
  if [ "$kind" = plain ]; then port=$proxy_port; auth_line=""; else
    port=$auth_proxy_port; auth_line="BasicAuth $proxy_user $proxy_pass"; fi
  sed -e "s|@PORT@|$port|" -e "s|@LOG@|$peers_dir/tinyproxy-$kind.log|" \
    -e "s|@AUTH_LINE@|$auth_line|" "$here/tinyproxy.conf.in" >"$peers_dir/tinyproxy-$kind.conf"
  "$tinyproxy_bin" -d -c "$peers_dir/tinyproxy-$kind.conf" >"$peers_dir/tinyproxy-$kind.out" 2>&1 &
  pids+=($!)
done

# Each peer must accept a connection within 10 s.
wait_for_port() {
  local name=$1 port=$2 pid=$3
  for _ in $(seq 1 200); do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "with-peers: $name exited at start-up" >&2
      cat "$peers_dir"/*.out "$peers_dir"/*.log 2>/dev/null >&2 || true
      return 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "with-peers: $name does not accept connections on port $port" >&2
  return 1
}
wait_for_port nginx "$http_port" "${pids[0]}"
wait_for_port "nginx (https)" "$tls10_port" "${pids[0]}"
wait_for_port tinyproxy "$proxy_port" "${pids[1]}"
wait_for_port "tinyproxy (auth)" "$auth_proxy_port" "${pids[2]}"
# The SOCKS proxies; socks-peers.sh lists them and their variables.
. "$here/socks-peers.sh"

export UPDATER_TEST_PEERS_DIR="$peers_dir"
export UPDATER_TEST_HTTP_PORT="$http_port"
export UPDATER_TEST_DOCROOT="$docroot"
export UPDATER_TEST_NGINX_ACCESS_LOG="$peers_dir/nginx-access.log"
export UPDATER_TEST_TINYPROXY_PORT="$proxy_port"
export UPDATER_TEST_TINYPROXY_AUTH_PORT="$auth_proxy_port"
export UPDATER_TEST_TINYPROXY_USER="$proxy_user"
export UPDATER_TEST_TINYPROXY_PASS="$proxy_pass"

status=0
"$@" || status=$?
exit "$status"
