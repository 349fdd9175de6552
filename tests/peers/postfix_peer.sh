#!/usr/bin/env bash
# A real MTA for the TLS scenarios: Postfix, unpacked from the .deb files scripts/bootstrap keeps
# in build/debs (never installed: its package conflicts with opensmtpd), run from a folder of its
# own with its own configuration, queue and data. Needs root (master and smtpd change user).
#
#   postfix_peer.sh start DIR MODE PORT CERTS USER PASSWORD RCPT
#   postfix_peer.sh stop DIR
#
# MODE is starttls (STARTTLS required before anything else) or tls (TLS from the first byte).
# CERTS holds server.pem and leaf.key (tests/peers/make_test_certs.sh). AUTH PLAIN and LOGIN
# (Cyrus sasldb, one account USER) are offered only inside TLS; a client that did not
# authenticate cannot send, not even to RCPT. Mail for RCPT's domain is delivered into the
# Maildir DIR/Maildir (new/ holds one file per mail); anything else is refused. The log is
# DIR/maillog. start returns once the port takes connections; stop ends every process of it.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
deb_cache=${SETUP_DEB_CACHE:-$repo/build/debs}

usage() { echo "usage: $0 start DIR starttls|tls PORT CERTS USER PASSWORD RCPT | stop DIR" >&2; exit 2; }

# The unpacked packages, shared by every instance of one build tree (DIR's parent).
unpack() {
  local root=$1 p deb
  [ -x "$root/usr/lib/postfix/sbin/master" ] && [ -x "$root/usr/sbin/saslpasswd2" ] && return 0
  rm -rf "$root.new"
  mkdir -p "$root.new"
  for p in postfix sasl2-bin; do
    deb=$(compgen -G "$deb_cache/${p}_*.deb" | sort -V | tail -n 1) ||
      { echo "postfix_peer: no $p .deb in $deb_cache (scripts/bootstrap fetches it)" >&2; return 1; }
    dpkg -x "$deb" "$root.new"
  done
  rm -rf "$root"
  mv "$root.new" "$root"
}

start() {
  [ $# -eq 7 ] || usage
  local dir=$1 mode=$2 port=$3 certs=$4 user=$5 password=$6 rcpt=$7 listen
  local root etc
  case $mode in
  starttls) listen="-o smtpd_tls_security_level=encrypt" ;;
  tls) listen="-o smtpd_tls_wrappermode=yes" ;;
  *) usage ;;
  esac
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  root=$(dirname "$dir")/postfix-root
  unpack "$root"
  etc=$dir/etc
  rm -rf "$etc" "$dir/spool" "$dir/data"
  mkdir -p "$etc/sasl" "$dir/spool" "$dir/data" "$dir/Maildir"
  chown mail "$dir/data"            # mail_owner's
  chown nobody:nogroup "$dir/Maildir"   # the mailbox owner's (virtual_uid_maps)
  runuser -u mail -- test -w "$dir/data" ||
    { echo "postfix_peer: user mail cannot reach $dir (a folder above it is private)" >&2; return 1; }
  install -m 644 "$certs/server.pem" "$etc/server.pem"
  install -m 600 "$certs/leaf.key" "$etc/server.key"
  : >"$etc/dynamicmaps.cf"
  cat >"$etc/main.cf" <<EOF
compatibility_level = 3.6
config_directory = $etc
queue_directory = $dir/spool
data_directory = $dir/data
command_directory = $root/usr/sbin
daemon_directory = $root/usr/lib/postfix/sbin
meta_directory = $root/etc/postfix
shlib_directory = $root/usr/lib/postfix
sendmail_path = $root/usr/sbin/sendmail
# accounts every machine has, so that no postfix or postdrop user is made
mail_owner = mail
setgid_group = daemon
import_environment = MAIL_CONFIG MAIL_DEBUG MAIL_LOGTAG TZ LANG=C LD_LIBRARY_PATH
maillog_file_prefixes = $dir
maillog_file = $dir/maillog
myhostname = localhost
mydestination =
mynetworks =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
alias_maps =
alias_database =
local_recipient_maps =
biff = no
virtual_mailbox_domains = ${rcpt#*@}
virtual_mailbox_base = $dir
virtual_mailbox_maps = inline:{ $rcpt=Maildir/ }
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
default_transport = error:this test relay delivers only into its Maildir
# the delivered mail holds no X-Original-To: and its header lines are left as the client wrote
# them, as a relay does for a client from outside
enable_original_recipient = no
local_header_rewrite_clients =
smtpd_tls_cert_file = $etc/server.pem
smtpd_tls_key_file = $etc/server.key
smtpd_tls_auth_only = yes
smtpd_tls_loglevel = 1
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $etc/sasl
smtpd_relay_restrictions = permit_sasl_authenticated, reject_unauth_destination
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
EOF
  cat >"$etc/master.cf" <<EOF
127.0.0.1:$port inet n - n - - smtpd $listen -o smtpd_sasl_auth_enable=yes
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
tlsmgr    unix - - n 1000? 1 tlsmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
error     unix - - n - - error
retry     unix - - n - - error
virtual   unix - n n - - virtual
anvil     unix - - n - 1 anvil
postlog   unix-dgram n - n - 1 postlogd
EOF
  printf 'pwcheck_method: auxprop\nauxprop_plugin: sasldb\nsasldb_path: %s\nmech_list: PLAIN LOGIN\n' \
    "$etc/sasldb2" >"$etc/sasl/smtpd.conf"
  export LD_LIBRARY_PATH=$root/usr/lib/postfix   # the programs' RUNPATH is /usr/lib/postfix
  printf '%s' "$password" | "$root/usr/sbin/saslpasswd2" -p -c -f "$etc/sasldb2" -u localhost "$user"
  chgrp "$(id -gn mail)" "$etc/sasldb2"   # smtpd reads it as mail_owner
  chmod 640 "$etc/sasldb2"
  touch -d "-1 min" "$etc"/*.cf           # postfix waits about 2 s on a main.cf changed just now
  "$root/usr/sbin/postfix" -c "$etc" check >"$dir/check.log" 2>&1 || { cat "$dir/check.log" "$dir/maillog" >&2 2>/dev/null; return 1; }
  # master stays in the foreground, in a session of its own: stop ends the whole session.
  setsid "$root/usr/lib/postfix/sbin/master" -c "$etc" </dev/null >>"$dir/master.log" 2>&1 &
  echo $! >"$dir/master.pid"
  for _ in $(seq 1 250); do
    kill -0 "$(cat "$dir/master.pid")" 2>/dev/null || { cat "$dir/master.log" "$dir/maillog" >&2 2>/dev/null; return 1; }
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.02
  done
  echo "postfix_peer: postfix does not listen on port $port" >&2
  return 1
}

stop() {
  [ $# -eq 1 ] || usage
  local pid
  pid=$(cat "$1/master.pid" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null || true   # SIGTERM: master ends its children, then itself
  for _ in $(seq 1 500); do
    ps -s "$pid" -o stat= 2>/dev/null | grep -qv '^Z' || break
    sleep 0.01
  done
  pkill -KILL -s "$pid" 2>/dev/null || true
  rm -f "$1/master.pid"
}

case ${1:-} in
start) shift; start "$@" ;;
stop) shift; stop "$@" ;;
*) usage ;;
esac
