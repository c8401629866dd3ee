# The SOCKS proxies of the engine's tests, on 127.0.0.1 at free ports:
#   microsocks            SOCKS5 without authentication
#   microsocks -u -P      SOCKS5 that demands user name and password
#   danted                SOCKS4 and SOCKS5 (no SOCKS4a)
#   ssh -D (to an sshd)   SOCKS4, SOCKS4a and SOCKS5 (OpenSSH dynamic forwarding)
# Sourced by with-peers.sh after its own peers run: it uses that script's
# peers_dir and its pids list, whose EXIT trap stops everything in it, these
# too. The command then sees
#   UPDATER_TEST_MICROSOCKS_PORT, UPDATER_TEST_MICROSOCKS_AUTH_PORT,
#   UPDATER_TEST_MICROSOCKS_USER, UPDATER_TEST_MICROSOCKS_PASS,
#   UPDATER_TEST_DANTE_PORT, UPDATER_TEST_SSH_SOCKS_PORT.
# A proxy whose program is missing is left out with a warning and its
# variables stay unset; the tests that need it then skip (or fail under CI).

socks_tool() {  # socks_tool NAME: the program's path, or nothing
  command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || true
}

socks_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_socks_peer NAME LAUNCHER: "LAUNCHER PORT" starts the peer in the
# background on PORT; its pid joins pids at once, and once it accepts there
# (within 10 s) socks_port holds the port. A port can be taken between being
# found free and being bound (a program without SO_REUSEADDR also fails on
# one left in TIME_WAIT), so a peer that exits at start-up is tried again on
# another port, five times at most.
start_socks_peer() {
  local name=$1 launcher=$2 attempt pid
  for attempt in 1 2 3 4 5; do
    socks_port=$(socks_free_port)
    "$launcher" "$socks_port"
    pid=$!
    pids+=("$pid")
    for _ in $(seq 1 200); do
      kill -0 "$pid" 2>/dev/null || break
      if (exec 3<>"/dev/tcp/127.0.0.1/$socks_port") 2>/dev/null; then return 0; fi
      sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      echo "with-peers: $name does not accept connections on port $socks_port" >&2
      return 1
    fi
    wait "$pid" 2>/dev/null || true
  done
  echo "with-peers: $name exited at start-up, also on other ports" >&2
  cat "$peers_dir"/*.out >&2 2>/dev/null || true
  return 1
}

microsocks_bin=$(socks_tool microsocks)
if [ -n "$microsocks_bin" ]; then
  socks_user=updater
  socks_pass="s0cks-$$"
  launch_microsocks() {
    "$microsocks_bin" -i 127.0.0.1 -p "$1" >"$peers_dir/microsocks.out" 2>&1 &
  }
  launch_microsocks_auth() {
    "$microsocks_bin" -i 127.0.0.1 -p "$1" -u "$socks_user" -P "$socks_pass" \
      >"$peers_dir/microsocks-auth.out" 2>&1 &
  }
  start_socks_peer microsocks launch_microsocks
  export UPDATER_TEST_MICROSOCKS_PORT="$socks_port"
  start_socks_peer "microsocks (auth)" launch_microsocks_auth
  export UPDATER_TEST_MICROSOCKS_AUTH_PORT="$socks_port"
  export UPDATER_TEST_MICROSOCKS_USER="$socks_user"
  export UPDATER_TEST_MICROSOCKS_PASS="$socks_pass"
else
  echo "with-peers: microsocks is missing (tools/install-deps.sh test); its tests skip" >&2
fi

danted_bin=$(socks_tool danted)
if [ -n "$danted_bin" ]; then
  # Run as root, dante must be told which users to take; otherwise it runs
  # as the caller.
  dante_users=""
  [ "$(id -u)" -ne 0 ] || dante_users=$'user.privileged: root\nuser.unprivileged: nobody'
  launch_danted() {
    cat >"$peers_dir/danted.conf" <<EOF
logoutput: $peers_dir/danted.log
internal: 127.0.0.1 port = $1
external: 127.0.0.1
socksmethod: none
clientmethod: none
$dante_users
client pass {
  from: 127.0.0.0/8 to: 0.0.0.0/0
}
socks pass {
  from: 127.0.0.0/8 to: 0.0.0.0/0
  protocol: tcp
  command: connect
}
EOF
    # In the foreground (no -D), so that the pid is the server's own.
    "$danted_bin" -f "$peers_dir/danted.conf" -p "$peers_dir/danted.pid" \
      >"$peers_dir/danted.out" 2>&1 &
  }
  start_socks_peer danted launch_danted
  export UPDATER_TEST_DANTE_PORT="$socks_port"
else
  echo "with-peers: danted is missing (tools/install-deps.sh test); its tests skip" >&2
fi

sshd_bin=$(socks_tool sshd)
ssh_bin=$(socks_tool ssh)
ssh_keygen_bin=$(socks_tool ssh-keygen)
if [ -n "$sshd_bin" ] && [ -n "$ssh_bin" ] && [ -n "$ssh_keygen_bin" ]; then
  ssh_dir="$peers_dir/ssh"
  mkdir -p "$ssh_dir"
  # sshd insists on its privilege separation directory.
  [ -d /run/sshd ] || mkdir -p /run/sshd 2>/dev/null || true
  "$ssh_keygen_bin" -q -t ed25519 -N '' -C updater-test-host -f "$ssh_dir/host_key"
  "$ssh_keygen_bin" -q -t ed25519 -N '' -C updater-test-client -f "$ssh_dir/client_key"
  cp "$ssh_dir/client_key.pub" "$ssh_dir/authorized_keys"
  launch_sshd() {
    cat >"$ssh_dir/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $1
HostKey $ssh_dir/host_key
PidFile $ssh_dir/sshd.pid
AuthorizedKeysFile $ssh_dir/authorized_keys
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowTcpForwarding yes
UsePAM no
EOF
    "$sshd_bin" -D -e -f "$ssh_dir/sshd_config" >"$peers_dir/sshd.out" 2>&1 &
  }
  # The client in the foreground of its own background job (no -f), so that
  # its pid is known; it exits when the forwarding port cannot be had.
  launch_ssh_socks() {
    "$ssh_bin" -N -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no \
      -o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o ExitOnForwardFailure=yes \
      -o LogLevel=ERROR -i "$ssh_dir/client_key" -p "$sshd_port" \
      -D "127.0.0.1:$1" "$(id -un)@127.0.0.1" >"$peers_dir/ssh.out" 2>&1 &
  }
  start_socks_peer sshd launch_sshd
  sshd_port=$socks_port
  start_socks_peer "ssh -D" launch_ssh_socks
  export UPDATER_TEST_SSH_SOCKS_PORT="$socks_port"
else
  echo "with-peers: sshd, ssh or ssh-keygen is missing (tools/install-deps.sh test); its tests skip" >&2
fi
