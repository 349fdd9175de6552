#!/bin/sh
# Makes the certificates of the TLS tests in DIR with the openssl command (all PEM):
#   ca.pem                the test authority (the one a test may trust; never a system root)
#   server.pem            localhost and 127.0.0.1, signed by the test authority
#   expired.pem           the same names, signed by the test authority, valid only in 2020
#   other.pem             other.example only, signed by the test authority
#   rogue-chain.pem       localhost and 127.0.0.1 signed by a second authority, followed by that
#                         authority (a server presenting a root nobody trusts)
#   leaf.key              the key of every leaf above and below but two
#   ca.key                the test authority's key
# Chains below the floor of strength, each signed by the test authority (as leaf, intermediate):
#   sha1-leaf.pem         the leaf signed with SHA-1
#   sha1-inter.pem        a leaf, then an intermediate signed with SHA-1
#   rsa1024-leaf.pem      a leaf with an RSA key of 1024 bits (rsa1024.key)
#   rsa1024-inter.pem     a leaf, then an intermediate with an RSA key of 1024 bits
#   p192-leaf.pem         a leaf with an EC key on P-192 (p192.key)
#   p192-inter.pem        a leaf, then an intermediate with an EC key on P-192
# And a second root, for a system's store (never the test authority):
#   system.pem            the "system" authority
#   system-chain.pem      localhost and 127.0.0.1 signed by it, followed by it
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
  database "$1"
}

# intermediate ISSUER NAME SUBJECT KEY MD: an authority in $work/NAME.pem with the key KEY (made
# before), signed by ISSUER with the digest MD, ready to sign leaves.
intermediate() {
  cp "$4" "$work/$2.key"
  openssl req -new -key "$work/$2.key" -subj "/CN=$3" -out "$work/$2.csr" 2>/dev/null
  LEAF_SAN=DNS:unused openssl ca -batch -notext -config "$work/$1.cnf" -extensions inter -md "$5" -in "$work/$2.csr" \
    -out "$work/$2.pem" -startdate "$now" -enddate "$later" 2>/dev/null
  database "$2"
}

# database NAME: the configuration and database with which "openssl ca" signs as NAME.
database() {
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
[inter]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = \$ENV::LEAF_SAN
EOF
  openssl rand -hex 8 >"$work/$1.db/serial"
}

# leaf AUTHORITY OUT CN SAN START END [KEY [MD]]: a server certificate for the names in SAN
# (key: leaf.key; digest: sha256).
leaf() {
  openssl req -new -key "${7:-$dir/leaf.key}" -subj "/CN=$3" -out "$work/leaf.csr" 2>/dev/null
  LEAF_SAN=$4 openssl ca -batch -notext -config "$work/$1.cnf" -extensions leaf -md "${8:-sha256}" \
    -in "$work/leaf.csr" -out "$2" -startdate "$5" -enddate "$6" 2>/dev/null
}

# chained NAME AUTHORITY: a localhost leaf signed by AUTHORITY, then AUTHORITY, in $dir/NAME.pem.
chained() {
  leaf "$2" "$work/$1-leaf.pem" localhost "DNS:localhost,IP:127.0.0.1" "$now" "$later"
  cat "$work/$1-leaf.pem" "$work/$2.pem" >"$dir/$1.pem"
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

# Below the floor of strength (OpenSSL signs them; a server presents them at security level 0).
local_names="DNS:localhost,IP:127.0.0.1"
openssl genrsa -out "$dir/rsa1024.key" 1024 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-192 -out "$dir/p192.key" 2>/dev/null
leaf ca "$dir/sha1-leaf.pem" localhost "$local_names" "$now" "$later" "$dir/leaf.key" sha1
leaf ca "$dir/rsa1024-leaf.pem" localhost "$local_names" "$now" "$later" "$dir/rsa1024.key"
leaf ca "$dir/p192-leaf.pem" localhost "$local_names" "$now" "$later" "$dir/p192.key"
openssl genrsa -out "$work/inter.key" 2048 2>/dev/null
intermediate ca sha1-inter "Setup SHA-1 Intermediate" "$work/inter.key" sha1
intermediate ca rsa1024-inter "Setup RSA-1024 Intermediate" "$dir/rsa1024.key" sha256
intermediate ca p192-inter "Setup P-192 Intermediate" "$dir/p192.key" sha256
for weak in sha1-inter rsa1024-inter p192-inter; do
  chained "$weak" "$weak"
done
authority system "Setup System Authority"
cp "$work/system.pem" "$dir/system.pem"
chained system-chain system
