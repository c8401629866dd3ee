# The https side of the loopback nginx: a test CA and certificates that
# openssl makes at run time, and one TLS server block per kind of
# certificate or protocol, each on a free port of 127.0.0.1:
#   UPDATER_TEST_HTTPS_PORT            the CA's certificate for localhost, 127.0.0.1 and ::1
#   UPDATER_TEST_HTTPS_UNTRUSTED_PORT  the same names, signed by a CA nobody trusts
#   UPDATER_TEST_HTTPS_WRONG_HOST_PORT the CA's certificate for another name only
#   UPDATER_TEST_HTTPS_EXPIRED_PORT    the CA's certificate, expired in 2020
#   UPDATER_TEST_HTTPS_TLS10_PORT      the good certificate, TLS 1.0 only
#   UPDATER_TEST_HTTPS_TLS13_PORT      the good certificate, TLS 1.3 only
#   UPDATER_TEST_TLS_CA                the test CA's certificate (PEM)
# Sourced by with-peers.sh before nginx starts: it reads here, docroot,
# peers_dir, has_v6 and its free_ports, writes $peers_dir/tls-servers.conf.in
# (with-peers.sh fills in nginx's http port; nginx.conf includes the result)
# and sets https_port for the redirects of nginx.conf.in.

tls_dir="$peers_dir/tls"
mkdir -p "$tls_dir/issued"
: >"$tls_dir/index.txt"
echo 1000 >"$tls_dir/serial"
sed -e "s|@TLS_DIR@|$tls_dir|g" "$here/tls-ca.cnf.in" >"$tls_dir/ca.cnf"

tls_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

# tls_ca NAME: a self-signed CA in NAME.pem and NAME.key.
tls_ca() {
  tls_key "$tls_dir/$1.key"
  openssl req -x509 -new -key "$tls_dir/$1.key" -out "$tls_dir/$1.pem" -days 30 \
    -subj "/CN=Korvanta test $1" >/dev/null 2>&1
}

# tls_leaf NAME CA SAN [DATES...]: NAME.pem and NAME.key for the names in
# SAN, issued by CA.
tls_leaf() {
  local name=$1 ca=$2 san=$3
  shift 3
  tls_key "$tls_dir/$name.key"
  openssl req -new -key "$tls_dir/$name.key" -out "$tls_dir/$name.csr" -subj "/CN=$name" \
    -addext "subjectAltName=$san" >/dev/null 2>&1
  openssl ca -batch -config "$tls_dir/ca.cnf" -cert "$tls_dir/$ca.pem" -keyfile "$tls_dir/$ca.key" \
    -in "$tls_dir/$name.csr" -out "$tls_dir/$name.pem" -notext "$@" >/dev/null 2>&1
  [ -s "$tls_dir/$name.pem" ] || { echo "with-peers: openssl could not make the $name certificate" >&2; exit 1; }
}

tls_ca ca
tls_ca other-ca
tls_leaf good ca "DNS:localhost,IP:127.0.0.1,IP:::1" -days 30
tls_leaf untrusted other-ca "DNS:localhost,IP:127.0.0.1" -days 30
tls_leaf wrong-host ca "DNS:elsewhere.test" -days 30
tls_leaf expired ca "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200102000000Z

read -r https_port untrusted_port wrong_host_port expired_port tls10_port tls13_port \
  < <(free_ports 6)

# tls_server PORT CERT [DIRECTIVES]: a server block serving the docroot, on
# [::1] too where the machine has it.
tls_server() {
  local v6=""
  [ "$has_v6" -eq 0 ] || v6="listen [::1]:$1 ssl;"
  sed -e "s|@TLS_PORT@|$1|" -e "s|@CERT@|$2|g" -e "s|@DIRECTIVES@|${3:-}|" -e "s|@LISTEN_V6@|$v6|" \
    -e "s|@DOCROOT@|$docroot|" -e "s|@TLS_DIR@|$tls_dir|g" "$here/tls-server.conf.in"
}
{
  tls_server "$https_port" good
  tls_server "$untrusted_port" untrusted
  tls_server "$wrong_host_port" wrong-host
  tls_server "$expired_port" expired
  # OpenSSL 3 refuses TLS 1.0 at its default security level, on either side.
  tls_server "$tls10_port" good "ssl_protocols TLSv1; ssl_ciphers DEFAULT:@SECLEVEL=0;"
  tls_server "$tls13_port" good "ssl_protocols TLSv1.3;"
} >"$peers_dir/tls-servers.conf.in"

export UPDATER_TEST_HTTPS_PORT=$https_port UPDATER_TEST_HTTPS_UNTRUSTED_PORT=$untrusted_port \
  UPDATER_TEST_HTTPS_WRONG_HOST_PORT=$wrong_host_port UPDATER_TEST_HTTPS_EXPIRED_PORT=$expired_port \
  UPDATER_TEST_HTTPS_TLS10_PORT=$tls10_port UPDATER_TEST_HTTPS_TLS13_PORT=$tls13_port \
  UPDATER_TEST_TLS_CA="$tls_dir/ca.pem"
