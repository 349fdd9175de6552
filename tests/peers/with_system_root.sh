#!/bin/sh
# Runs COMMAND with the certificate PEM among the system's trusted roots, for that command alone:
# in a mount namespace of its own, the host's bundle with PEM appended is bound over
# /etc/ssl/certs/ca-certificates.crt, which Wine 8 reads as its store of roots (its Root store
# takes no certificate added through the API, and reads no registry). Nothing outside the
# namespace sees the change. As root, or else as root of a user namespace of its own (unshare).
# usage: with_system_root.sh PEM COMMAND [ARG...]
set -eu
[ $# -ge 2 ] || { echo "usage: $0 PEM COMMAND [ARG...]" >&2; exit 2; }
pem=$1
shift
system=/etc/ssl/certs/ca-certificates.crt
bundle=$(mktemp)
trap 'rm -f "$bundle"' EXIT
cat "$system" "$pem" >"$bundle"
as_root=
[ "$(id -u)" -eq 0 ] || as_root=--map-root-user
unshare $as_root --mount --propagation private sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' "$bundle" "$system" "$@"
