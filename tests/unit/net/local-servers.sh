#!/bin/sh
# Servers on 127.0.0.1 for the network tests of both builds (the Windows build's
# tests run under Wine, which starts host programs too):
#   local-servers.sh http DIR       nginx serving DIR/www over plain HTTP
#   local-servers.sh tls DIR [CA]   nginx serving DIR/www over TLS with one port per
#                                   certificate case, from a test CA made here, or
#                                   the one in the folder CA (made there when it has
#                                   none yet), so that the sets of one test program
#                                   share one CA
#   local-servers.sh tinyproxy DIR  tinyproxy, which also tunnels (CONNECT)
#   local-servers.sh tinyproxy-auth DIR  the same, asking for Basic (ann, secret)
#   local-servers.sh stop DIR       stops what was started for DIR, removes DIR
# A started server writes its ports to DIR/ports ("name port" lines), then
# DIR/ready; a failure writes DIR/failed with the reason, a missing tool
# DIR/missing. Each server binds the port it is given itself and fails when the
# port is taken, and then another port is tried: no port is found free and
# handed over. Each ends by itself after five
# minutes should a test die without stopping it.
set -eu
command=$1
dir=$2
mkdir -p "$dir"
cd "$dir"

# The reasons below are written under another name and renamed, so that a test
# that sees the file reads all of it.
fail() {
  echo "$*" >failed.part && mv failed.part failed
  exit 1
}

# A tool this machine lacks: the tests that need it skip themselves.
missing() {
  echo "$1 is not installed" >missing.part && mv missing.part missing
  exit 1
}

random_port() {
  echo $((20000 + $(od -An -N2 -tu2 /dev/urandom) % 40000))
}

# Waits up to ten seconds for a file (or a line in it) while process $1 lives.
wait_for() {
  pid=$1 file=$2 line=${3:-}
  for _ in $(seq 200); do
    if [ -z "$line" ]; then
      [ -s "$file" ] && return 0
    else
      grep -q "$line" "$file" 2>/dev/null && return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Wine's crypt32 refuses a P-256 signature whose r or s has a first byte of
# zero (about one in 128): a certificate signed so is signed again. asn1parse
# shows each number in hexadecimal without leading zero bytes.
short_signature() {
  offset=$(openssl asn1parse -in "$1" | tail -n 1 | cut -d: -f1)
  openssl asn1parse -in "$1" -strparse "$offset" | awk -F: '/INTEGER/ && length($NF) < 64 { s = 1 } END { exit !s }'
}

# Runs a command that signs the certificate $1 until its signature is whole.
sign() {
  cert=$1
  shift
  for attempt in 1 2 3 4 5 6 7 8; do
    "$@" 2>/dev/null
    short_signature "$cert" || return 0
  done
  fail "$cert: eight signatures too short for Wine"
}

# Dates of one's own choosing need the ca command and its small database.
issue() {
  : >index.txt
  openssl ca -batch -notext -config ca.cnf "$@"
}

# A P-256 key and a certificate signed by CA ($2) for the names of $3.
leaf() {
  name=$1 ca=$2 names=$3
  shift 3
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$name.key" -out "$name.csr" \
    -subj "/CN=$name test server" 2>/dev/null
  # "none": a certificate that names its server in the common name alone.
  if [ "$names" = none ]; then
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$name.key" -out "$name.csr" \
      -subj "/CN=localhost" 2>/dev/null
    printf 'extendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$name.ext"
  else
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$names" >"$name.ext"
  fi
  if [ $# -eq 0 ]; then
    sign "$name.pem" openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -days 30 \
      -sha256 -extfile "$name.ext" -out "$name.pem"
  else
    mkdir -p issued
    printf '[ca]\ndefault_ca=test\n[test]\ndatabase=index.txt\nnew_certs_dir=issued\nserial=%s.srl\n' "$ca" >ca.cnf
    printf 'default_md=sha256\npolicy=any\n[any]\ncommonName=supplied\n' >>ca.cnf
    sign "$name.pem" issue -cert "$ca.pem" -keyfile "$ca.key" -in "$name.csr" -extfile "$name.ext" -out "$name.pem" "$@"
  fi
  cat "$name.pem" "$ca.pem" >"$name.chain.pem"
}

authority() {
  sign "$1.pem" openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" -out "$1.pem" \
    -days 30 -sha256 -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
}

# nginx serving DIR/www with one server per name given: "http" is plain,
# "ipv6" is TLS on [::1] with the certificate "good", "tls13" TLS 1.3 alone with
# that certificate, any other name TLS on 127.0.0.1 with the certificate of
# that name.
start_nginx() {
  [ -x /usr/sbin/nginx ] || missing nginx
  mkdir -p www logs tmp
  for attempt in 1 2 3 4 5 6 7 8; do
    : >ports
    servers=
    for name in "$@"; do
      port=$(random_port)
      echo "$name $port" >>ports
      if [ "$name" = http ]; then
        servers="$servers
  server { listen 127.0.0.1:$port; root $dir/www; }"
      else
        address=127.0.0.1 cert=$name protocols="TLSv1.2 TLSv1.3"
        case $name in
          ipv6) address="[::1]" cert=good ;;
          tls13) cert=good protocols=TLSv1.3 ;;
        esac
        servers="$servers
  server {
    listen $address:$port ssl;
    ssl_certificate $dir/$cert.chain.pem;
    ssl_certificate_key $dir/$cert.key;
    ssl_protocols $protocols;
    root $dir/www;
  }"
      fi
    done
    cat >nginx.conf <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type application/octet-stream;$servers
}
CONF
    rm -f nginx.pid
    # The pid file is written once every port is bound.
    timeout 300 /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" </dev/null >/dev/null 2>&1 &
    echo $! >nginx.wrapper
    if wait_for $! nginx.pid; then
      touch ready
      return 0
    fi
  done
  fail "nginx did not start: $(tail -n 3 logs/error.log 2>/dev/null)"
}

start_tls() {
  command -v openssl >/dev/null || missing openssl
  [ -x /usr/sbin/nginx ] || missing nginx
  if [ -n "$1" ] && [ -f "$1/ca.pem" ]; then
    cp "$1/ca.key" "$1/ca.pem" .
  else
    authority ca "ORBAX Test CA"
    # The certificate last: it says the folder holds both.
    [ -z "$1" ] || { mkdir -p "$1" && cp ca.key "$1/" && cp ca.pem "$1/"; }
  fi
  authority rogue "Rogue Test CA"
  openssl x509 -in ca.pem -outform DER -out ca.der
  leaf good ca "DNS:localhost,IP:127.0.0.1,IP:::1"
  leaf other ca "DNS:other.example"
  leaf untrusted rogue "DNS:localhost,IP:127.0.0.1"
  leaf expired ca "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200201000000Z
  leaf nosan ca none
  # IPv6 only where the machine has its loopback address.
  ipv6=
  grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && ipv6=ipv6
  start_nginx good other untrusted expired nosan tls13 $ipv6
}

# $1: further configuration lines.
start_tinyproxy() {
  [ -x /usr/bin/tinyproxy ] || missing tinyproxy
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(random_port)
    # LF line ends only; no ConnectPort line, so tunnels to any port are allowed.
    printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 10\nLogLevel Info\n' "$port" >tinyproxy.conf
    printf 'LogFile "%s/tinyproxy.log"\n%s' "$dir" "${1:-}" >>tinyproxy.conf
    rm -f tinyproxy.log
    timeout 300 /usr/bin/tinyproxy -d -c "$dir/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
    echo $! >tinyproxy.wrapper
    # It logs this line once its port is bound; a taken port ends it instead.
    if wait_for $! tinyproxy.log "Accepting connections"; then
      echo "tinyproxy $port" >ports
      touch ready
      return 0
    fi
  done
  fail "tinyproxy did not start: $(tail -n 3 tinyproxy.log 2>/dev/null)"
}

case $command in
  http) start_nginx http ;;
  tls) start_tls "${3:-}" ;;
  tinyproxy) start_tinyproxy ;;
  tinyproxy-auth) start_tinyproxy 'BasicAuth ann secret
' ;;
  stop)
    # timeout passes the signal on to the server it runs and ends with it.
    pids=
    for f in *.wrapper; do
      [ -f "$f" ] && pids="$pids $(cat "$f")"
    done
    for pid in $pids; do
      kill "$pid" 2>/dev/null || true
    done
    # A server still ending would write into the folder while it goes.
    for _ in $(seq 100); do
      alive=
      for pid in $pids; do
        kill -0 "$pid" 2>/dev/null && alive=1
      done
      [ -z "$alive" ] && break
      sleep 0.05
    done
    cd /
    rm -rf "$dir"
    ;;
  *) fail "unknown command $command" ;;
esac
