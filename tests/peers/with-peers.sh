#!/usr/bin/env bash
# Starts the loopback peers of the engine's tests, runs a command with their
# addresses in its environment, stops the peers and returns the command's
# status:
#   tests/peers/with-peers.sh COMMAND [ARGS...]
# Each peer listens on 127.0.0.1 at a free port; the command sees
#   nginx (static files, redirects): UPDATER_TEST_HTTP_PORT, UPDATER_TEST_DOCROOT
#     (files/ below it), UPDATER_TEST_NGINX_ACCESS_LOG; UPDATER_TEST_IPV6 is 1
#     when it also listens on [::1] at the same port (the machine has IPv6)
#   nginx over https with certificates of every kind (tls-peers.sh):
#     UPDATER_TEST_HTTPS_PORT, UPDATER_TEST_HTTPS_*_PORT, UPDATER_TEST_TLS_CA
#   tinyproxy without and with Basic authentication: UPDATER_TEST_TINYPROXY_PORT,
#     UPDATER_TEST_TINYPROXY_AUTH_PORT, UPDATER_TEST_TINYPROXY_USER, ..._PASS
#   microsocks, SOCKS5 without and with login: UPDATER_TEST_MICROSOCKS_PORT,
#     UPDATER_TEST_MICROSOCKS_AUTH_PORT, UPDATER_TEST_MICROSOCKS_USER, ..._PASS
#   danted, SOCKS4 and SOCKS5: UPDATER_TEST_DANTE_PORT
#   ssh -D to an sshd, SOCKS4, SOCKS4a and SOCKS5: UPDATER_TEST_SSH_SOCKS_PORT
#   squid, which alone resolves UPDATER_TEST_SQUID_NAME (and localhost), and
#     its access log: UPDATER_TEST_SQUID_PORT, UPDATER_TEST_SQUID_ACCESS_LOG;
#     where Samba's ntlm_auth is installed also a port that asks for NTLM:
#     UPDATER_TEST_SQUID_NTLM_PORT, UPDATER_TEST_SQUID_NTLM_PASS (any user);
#     nginx serves files/proxy.pac, a configuration script that names squid
#     for UPDATER_TEST_SQUID_NAME and DIRECT for every other host
#   microsocks' log, a line per connection: UPDATER_TEST_MICROSOCKS_LOG
# Every peer's program must be installed (tools/install-deps.sh test). Set
# UPDATER_TEST_BIG_FILE_MIB to add files/huge.bin of that many MiB.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ "$#" -ge 1 ] || { echo "usage: with-peers.sh COMMAND [ARGS...]" >&2; exit 64; }

tool() {  # tool NAME: the program's path, or nothing
  command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || true
}
for name in nginx tinyproxy python3 openssl microsocks danted sshd ssh ssh-keygen squid; do
  [ -n "$(tool "$name")" ] ||
    { echo "with-peers: $name is missing (tools/install-deps.sh test)" >&2; exit 1; }
done

peers_dir=$(mktemp -d "${TMPDIR:-/tmp}/updater-peers.XXXXXX")
chmod 755 "$peers_dir"
pids=()
squid_pid=""
stop_peers() {
  # squid lingers 2 s after any signal it handles; all it has is this run's.
  [ -z "$squid_pid" ] || kill -KILL "$squid_pid" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$peers_dir"
}
trap stop_peers EXIT

free_ports() {  # free_ports N: N distinct free ports of 127.0.0.1
  python3 -c 'import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1"
}

# start NAME LAUNCHER [ARGS...]: "LAUNCHER PORT ARGS..." starts the peer in the
# background on PORT; its pid joins pids at once, and once it accepts there (within 10 s)
# port holds the port. A port can be taken between being found free and
# being bound, so a peer that exits at start-up is tried again on another
# port, five times at most.
start() {
  local name=$1 launcher=$2 pid
  shift 2
  for _ in 1 2 3 4 5; do
    port=$(free_ports 1)
    "$launcher" "$port" "$@"
    pid=$!
    pids+=("$pid")
    for _ in $(seq 1 200); do
      kill -0 "$pid" 2>/dev/null || break
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
      sleep 0.05
    done
    ! kill -0 "$pid" 2>/dev/null ||
      { echo "with-peers: $name does not accept connections on port $port" >&2; return 1; }
    wait "$pid" 2>/dev/null || true
  done
  echo "with-peers: $name exited at start-up, also on other ports" >&2
  cat "$peers_dir"/*.out "$peers_dir"/*.log >&2 2>/dev/null || true
  return 1
}

# Files served, with a Last-Modified well in the past, so that a file written
# now differs from it.
docroot="$peers_dir/docroot"
mkdir -p "$docroot/files/Mixed"
head -c $((3 * 1024 * 1024 + 4321)) /dev/urandom >"$docroot/files/big.bin"
head -c 1000 /dev/urandom >"$docroot/files/Mixed/Case.BIN"
printf 'hello from nginx\n' >"$docroot/files/small.txt"
: >"$docroot/files/empty.bin"
if [ -n "${UPDATER_TEST_BIG_FILE_MIB:-}" ]; then
  head -c $((UPDATER_TEST_BIG_FILE_MIB * 1024 * 1024)) /dev/urandom >"$docroot/files/huge.bin"
fi
touch -d '2021-03-04 05:06:07 UTC' "$docroot"/files/* "$docroot"/files/Mixed/*
# A stock /etc/hosts maps "localhost" to 127.0.0.1 and ::1, and a proxy that
# resolves it for a test may reach either, so nginx (http and https) also listens
# on [::1] at the same ports wherever the machine has IPv6 loopback.
has_v6=1
python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null || has_v6=0
# shellcheck source=tests/peers/tls-peers.sh
. "$here/tls-peers.sh"
chmod -R a+rX "$peers_dir"

user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user root root;"
launch_nginx() {
  local v6=""
  [ "$has_v6" -eq 0 ] || v6="listen [::1]:$1;"
  sed -e "s|@PEERS_DIR@|$peers_dir|g" -e "s|@DOCROOT@|$docroot|g" -e "s|@PORT@|$1|g" \
    -e "s|@LISTEN_V6@|$v6|" -e "s|@USER_LINE@|$user_line|" -e "s|@HTTPS_PORT@|$https_port|g" \
    "$here/nginx.conf.in" >"$peers_dir/nginx.conf"
  sed -e "s|@PORT@|$1|g" "$peers_dir/tls-servers.conf.in" >"$peers_dir/tls-servers.conf"
  "$(tool nginx)" -p "$peers_dir" -e "$peers_dir/nginx-error.log" -c "$peers_dir/nginx.conf" \
    >"$peers_dir/nginx.out" 2>&1 &
}
start nginx launch_nginx
export UPDATER_TEST_HTTP_PORT=$port UPDATER_TEST_DOCROOT=$docroot UPDATER_TEST_IPV6=$has_v6
export UPDATER_TEST_NGINX_ACCESS_LOG="$peers_dir/nginx-access.log"

proxy_user=updater
proxy_pass="s3cret-$$"
launch_tinyproxy() {  # PORT KIND
  local auth_line=""
  [ "$2" = plain ] || auth_line="BasicAuth $proxy_user $proxy_pass"
  sed -e "s|@PORT@|$1|" -e "s|@LOG@|$peers_dir/tinyproxy-$2.log|" -e "s|@AUTH_LINE@|$auth_line|" \
    "$here/tinyproxy.conf.in" >"$peers_dir/tinyproxy-$2.conf"
  "$(tool tinyproxy)" -d -c "$peers_dir/tinyproxy-$2.conf" >"$peers_dir/tinyproxy-$2.out" 2>&1 &
}
start tinyproxy launch_tinyproxy plain
export UPDATER_TEST_TINYPROXY_PORT=$port
start "tinyproxy (auth)" launch_tinyproxy auth
export UPDATER_TEST_TINYPROXY_AUTH_PORT=$port UPDATER_TEST_TINYPROXY_USER=$proxy_user
export UPDATER_TEST_TINYPROXY_PASS=$proxy_pass

socks_user=updater
socks_pass="s0cks-$$"
launch_microsocks() {
  "$(tool microsocks)" -i 127.0.0.1 -p "$@" >>"$peers_dir/microsocks.out" 2>&1 &
}
start microsocks launch_microsocks
export UPDATER_TEST_MICROSOCKS_PORT=$port
start "microsocks (auth)" launch_microsocks -u "$socks_user" -P "$socks_pass"
export UPDATER_TEST_MICROSOCKS_AUTH_PORT=$port UPDATER_TEST_MICROSOCKS_USER=$socks_user
export UPDATER_TEST_MICROSOCKS_PASS=$socks_pass
export UPDATER_TEST_MICROSOCKS_LOG="$peers_dir/microsocks.out"

# Run as root, dante must be told which users to take; otherwise it runs
# as the caller. In the foreground (no -D), so that the pid is its own.
dante_users=""
[ "$(id -u)" -ne 0 ] || dante_users='user.privileged: root\nuser.unprivileged: nobody'
launch_danted() {
  sed -e "s|@PEERS_DIR@|$peers_dir|" -e "s|@PORT@|$1|" -e "s|@USERS@|$dante_users|" \
    "$here/danted.conf.in" >"$peers_dir/danted.conf"
  "$(tool danted)" -f "$peers_dir/danted.conf" -p "$peers_dir/danted.pid" \
    >"$peers_dir/danted.out" 2>&1 &
}
start danted launch_danted
export UPDATER_TEST_DANTE_PORT=$port

ssh_dir="$peers_dir/ssh"
mkdir -p "$ssh_dir"
# sshd insists on its privilege separation directory.
[ -d /run/sshd ] || mkdir -p /run/sshd 2>/dev/null || true
"$(tool ssh-keygen)" -q -t ed25519 -N '' -C updater-test-host -f "$ssh_dir/host_key"
"$(tool ssh-keygen)" -q -t ed25519 -N '' -C updater-test-client -f "$ssh_dir/client_key"
cp "$ssh_dir/client_key.pub" "$ssh_dir/authorized_keys"
launch_sshd() {
  sed -e "s|@SSH_DIR@|$ssh_dir|g" -e "s|@PORT@|$1|" "$here/sshd_config.in" >"$ssh_dir/sshd_config"
  "$(tool sshd)" -D -e -f "$ssh_dir/sshd_config" >"$peers_dir/sshd.out" 2>&1 &
}
# The client in the foreground of its own background job (no -f), so that
# its pid is known; it exits when the forwarding port cannot be had.
launch_ssh_socks() {
  "$(tool ssh)" -N -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no \
    -o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o ExitOnForwardFailure=yes \
    -o LogLevel=ERROR -i "$ssh_dir/client_key" -p "$sshd_port" \
    -D "127.0.0.1:$1" "$(id -un)@127.0.0.1" >"$peers_dir/ssh.out" 2>&1 &
}
start sshd launch_sshd
sshd_port=$port
start "ssh -D" launch_ssh_socks
export UPDATER_TEST_SSH_SOCKS_PORT=$port

# Run as root, squid works as the user "proxy": its directory is open to it.
squid_dir="$peers_dir/squid"
mkdir -p "$squid_dir"
chmod 777 "$squid_dir"
squid_name=dl.example.test
printf '127.0.0.1 %s localhost\n' "$squid_name" >"$squid_dir/hosts"
ntlm_pass="ntlm-$$"
ntlm_port=""
launch_squid() {
  local include=""
  if [ -n "$(tool ntlm_auth)" ]; then
    ntlm_port=$(free_ports 1)
    sed -e "s|@NTLM_PORT@|$ntlm_port|" -e "s|@NTLM_AUTH@|$(tool ntlm_auth)|" \
      -e "s|@NTLM_PASS@|$ntlm_pass|" "$here/squid-ntlm.conf.in" >"$squid_dir/ntlm.conf"
    include="include $squid_dir/ntlm.conf"
  fi
  sed -e "s|@SQUID_DIR@|$squid_dir|g" -e "s|@PORT@|$1|" -e "s|@NTLM_INCLUDE@|$include|" \
    "$here/squid.conf.in" >"$squid_dir/squid.conf"
  "$(tool squid)" -N -f "$squid_dir/squid.conf" >"$peers_dir/squid.out" 2>&1 &
}
start squid launch_squid
squid_pid=${pids[-1]}
export UPDATER_TEST_SQUID_PORT=$port UPDATER_TEST_SQUID_NAME=$squid_name
export UPDATER_TEST_SQUID_ACCESS_LOG="$squid_dir/access.log"
if [ -n "$ntlm_port" ]; then
  export UPDATER_TEST_SQUID_NTLM_PORT=$ntlm_port UPDATER_TEST_SQUID_NTLM_PASS=$ntlm_pass
fi
printf 'function FindProxyForURL(url, host) {\n  return host == "%s" ? "PROXY 127.0.0.1:%s; DIRECT" : "DIRECT";\n}\n' \
  "$squid_name" "$port" >"$docroot/files/proxy.pac"

# The tests set the proxy variables they use: none comes from this machine.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# The command's status is the script's (set -e); the trap stops the peers.
"$@"
