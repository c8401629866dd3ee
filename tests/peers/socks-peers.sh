# The SOCKS proxies of the engine's tests, on 127.0.0.1 at free ports:
#   microsocks            SOCKS5 without authentication
#   microsocks -u -P      SOCKS5 that demands user name and password
#   danted                SOCKS4 and SOCKS5 (no SOCKS4a)
#   ssh -D (to an sshd)   SOCKS4, SOCKS4a and SOCKS5 (OpenSSH dynamic forwarding)
# Sourced by with-peers.sh after its own peers run: it uses that script's
# peers_dir, its pids list (whose EXIT trap stops everything in it, these
# too) and wait_for_port. The command then sees
#   UPDATER_TEST_MICROSOCKS_PORT, UPDATER_TEST_MICROSOCKS_AUTH_PORT,
#   UPDATER_TEST_MICROSOCKS_USER, UPDATER_TEST_MICROSOCKS_PASS,
#   UPDATER_TEST_DANTE_PORT, UPDATER_TEST_SSH_SOCKS_PORT.
# A proxy whose program is missing is left out with a warning and its
# variables stay unset; the tests that need it then skip (or fail under CI).

socks_tool() {  # socks_tool NAME: the program's path, or nothing
  command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || true
}

read -r microsocks_port microsocks_auth_port dante_port sshd_port ssh_socks_port < <(python3 - <<'PY'
import socket
socks = []
for _ in range(5):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
PY
)

microsocks_bin=$(socks_tool microsocks)
if [ -n "$microsocks_bin" ]; then
  socks_user=updater
  socks_pass="s0cks-$$"
  "$microsocks_bin" -i 127.0.0.1 -p "$microsocks_port" >"$peers_dir/microsocks.out" 2>&1 &
  pids+=($!)
  wait_for_port microsocks "$microsocks_port" "$!"
  "$microsocks_bin" -i 127.0.0.1 -p "$microsocks_auth_port" -u "$socks_user" -P "$socks_pass" \
    >"$peers_dir/microsocks-auth.out" 2>&1 &
  pids+=($!)
  wait_for_port "microsocks (auth)" "$microsocks_auth_port" "$!"
  export UPDATER_TEST_MICROSOCKS_PORT="$microsocks_port"
  export UPDATER_TEST_MICROSOCKS_AUTH_PORT="$microsocks_auth_port"
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
  cat >"$peers_dir/danted.conf" <<EOF
logoutput: $peers_dir/danted.log
internal: 127.0.0.1 port = $dante_port
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
  pids+=($!)
  wait_for_port danted "$dante_port" "$!"
  export UPDATER_TEST_DANTE_PORT="$dante_port"
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
  cat >"$ssh_dir/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $sshd_port
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
  pids+=($!)
  wait_for_port sshd "$sshd_port" "$!"
  # The client in the foreground of its own background job (no -f), so that
  # its pid is known; it exits when the forwarding port cannot be had.
  "$ssh_bin" -N -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no \
    -o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o ExitOnForwardFailure=yes \
    -o LogLevel=ERROR -i "$ssh_dir/client_key" -p "$sshd_port" \
    -D "127.0.0.1:$ssh_socks_port" "$(id -un)@127.0.0.1" >"$peers_dir/ssh.out" 2>&1 &
  pids+=($!)
  wait_for_port "ssh -D" "$ssh_socks_port" "$!"
  export UPDATER_TEST_SSH_SOCKS_PORT="$ssh_socks_port"
else
  echo "with-peers: sshd, ssh or ssh-keygen is missing (tools/install-deps.sh test); its tests skip" >&2
fi
