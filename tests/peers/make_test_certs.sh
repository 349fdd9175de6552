#!/bin/sh
# Makes the certificates of the TLS tests in DIR with the openssl command (all PEM):
#   ca.pem                the test authority (the one a test may trust; never a system root)
#   server.pem            localhost and 127.0.0.1, signed by the test authority
#   expired.pem           the same names, signed by the test authority, valid only in 2020
#   other.pem             other.example only, signed by the test authority
#   rogue-chain.pem       localhost and 127.0.0.1 signed by a second authority, followed by that
#                         authority (a server presenting a root nobody trusts)
#   leaf.key              the key of every leaf above
#   ca.key                the test authority's key
# usage: make_test_certs.sh DIR
# A DIR that already holds ca.pem and ca.key keeps its authority: only the rest is made anew (a
# program built to trust that authority goes on trusting the fresh certificates).
set -eu
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# authority NAME SUBJECT: a self-signed authority in $work/NAME.pem with its key and a database
# for "openssl ca" (which, unlike "openssl x509", takes any start and end date).
authority() {
  if [ "$1" = ca ] && [ -s "$dir/ca.pem" ] && [ -s "$dir/ca.key" ]; then
    cp "$dir/ca.pem" "$work/ca.pem"
    cp "$dir/ca.key" "$work/ca.key"
  else
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" -days 3650 \
    -subj "/CN=$2" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2>/dev/null
  fi
  mkdir -p "$work/$1.db"
  : >"$work/$1.db/index.txt"
  cat >"$work/$1.cnf" <<EOF
[ca]
default_ca = this
[this]
database = $work/$1.db/index.txt
new_certs_dir = $work/$1.db
serial = $work/$1.db/serial
certificate = $work/$1.pem
private_key = $work/$1.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = \$ENV::LEAF_SAN
EOF
  openssl rand -hex 8 >"$work/$1.db/serial"
}

# leaf AUTHORITY OUT CN SAN START END: a server certificate for the names in SAN.
leaf() {
  openssl req -new -key "$dir/leaf.key" -subj "/CN=$3" -out "$work/leaf.csr" 2>/dev/null
  LEAF_SAN=$4 openssl ca -batch -notext -config "$work/$1.cnf" -extensions leaf -in "$work/leaf.csr" \
    -out "$2" -startdate "$5" -enddate "$6" 2>/dev/null
}

now=$(date -u -d '-1 hour' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
openssl genrsa -out "$dir/leaf.key" 2048 2>/dev/null
authority ca "Setup Test Authority"
authority rogue "Setup Rogue Authority"
cp "$work/ca.pem" "$dir/ca.pem"
cp "$work/ca.key" "$dir/ca.key"
leaf ca "$dir/server.pem" localhost "DNS:localhost,IP:127.0.0.1" "$now" "$later"
leaf ca "$dir/expired.pem" localhost "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20201231000000Z
leaf ca "$dir/other.pem" other.example "DNS:other.example" "$now" "$later"
leaf rogue "$work/rogue-leaf.pem" localhost "DNS:localhost,IP:127.0.0.1" "$now" "$later"
cat "$work/rogue-leaf.pem" "$work/rogue.pem" >"$dir/rogue-chain.pem"
