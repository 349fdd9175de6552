#!/usr/bin/env python3
"""Python's side of the SMTP benchmarks: a mail with one large attachment, built with the email
package and sent with smtplib.send_message to the SMTP test peer (aiosmtpd on loopback).

usage: smtp_send.py [--file FILE | --size BYTES] [--runs N] [--what build|send]
                    [--peer-dir DIR] [--keep-peer] [--starttls CERTS]

--file names the attachment (the same bytes the client under test sends); without it, --size
random bytes (10 MiB by default, fixed seed). --what build times only building and flattening
the message (no network). Otherwise a peer is started in a temporary folder (or the running one
in --peer-dir is used) and asked for a listener that records nothing, and the mail is sent
there; with --starttls the listener requires STARTTLS with the certificates in CERTS (as
tests/peers/make_test_certs.sh makes them) and smtplib verifies the server against CERTS/ca.pem.
Each time is the best of --runs rounds. Output, one "name value" a line:
  build_seconds        building the message (the email package encodes the attachment here)
                       and flattening it to bytes as send_message does
  message_bytes        the flattened message's size
  send_seconds         send_message of a message built beforehand: flattening and transfer
  build_send_seconds   building and sending, one after the other: the yardstick for the
                       client's SendMail (assemble, encode, transfer)
  handshake_seconds    (--starttls) connecting, EHLO, STARTTLS and the TLS handshake, EHLO
  peer_smtp_port       the listener used (with --keep-peer the peer stays up; stop it with
                       smtp_peer.py stop DIR, the folder is printed as peer_dir)
"""
import argparse
import email.policy
import json
import random
import shutil
import smtplib
import socket
import ssl
import sys
import tempfile
import time
from email.message import EmailMessage
from pathlib import Path

PEERS = Path(__file__).resolve().parent.parent / 'tests' / 'peers'
sys.path.insert(0, str(PEERS))
import smtp_peer  # noqa: E402


def build(data: bytes, name: str) -> EmailMessage:
    msg = EmailMessage(policy=email.policy.SMTP)
    msg['From'] = 'bench@peer.test'
    msg['To'] = 'sink@peer.test'
    msg['Subject'] = 'benchmark'
    msg.set_content('A mail with one attachment.\n')
    msg.add_attachment(data, maintype='application', subtype='octet-stream', filename=name)
    return msg


def best(runs, f):
    t = 1e30
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        t = min(t, time.perf_counter() - t0)
    return t


def listener_port(peer_dir: Path, certs=None) -> int:
    ports = smtp_peer.read_ports(peer_dir)
    script = {'record': False}
    if certs:
        script.update(tls='starttls', certs=str(certs))
    with socket.create_connection(('127.0.0.1', int(ports['control'])), timeout=30) as s:
        s.sendall(b'LISTEN ' + json.dumps(script).encode() + b'\n')
        reply = s.makefile('rb').readline().decode().split()
    if reply[0] != 'OK':
        raise RuntimeError('the peer refused a listener: %s' % ' '.join(reply))
    return int(reply[2])


def open_session(port: int, certs=None) -> smtplib.SMTP:
    s = smtplib.SMTP('127.0.0.1', port, timeout=120)
    if certs:
        s.ehlo('bench')
        s.starttls(context=ssl.create_default_context(cafile=str(Path(certs) / 'ca.pem')))
        s.ehlo('bench')
    else:
        s.helo('bench')
    return s


def send(port: int, msg: EmailMessage, certs=None):
    with open_session(port, certs) as s:
        s.send_message(msg)


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument('--file')
    parser.add_argument('--size', type=int, default=10 << 20)
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--what', choices=('build', 'send'), default='send')
    parser.add_argument('--peer-dir')
    parser.add_argument('--keep-peer', action='store_true')
    parser.add_argument('--starttls', metavar='CERTS')
    args = parser.parse_args(argv[1:])
    if args.file:
        data = Path(args.file).read_bytes()
        name = Path(args.file).name
    else:
        data = random.Random(20261208).randbytes(args.size)
        name = 'attachment.bin'

    flattened = []
    print('build_seconds %.6f' % best(args.runs, lambda: flattened.append(build(data, name).as_bytes())))
    print('message_bytes %d' % len(flattened[-1]))
    if args.what == 'build':
        return 0

    own_peer = args.peer_dir is None
    peer_dir = Path(tempfile.mkdtemp(prefix='smtp_bench_')) if own_peer else Path(args.peer_dir)
    if own_peer and smtp_peer.start_peer(peer_dir, quiet=True) != 0:
        return 1
    try:
        certs = args.starttls
        port = listener_port(peer_dir, certs)
        msg = build(data, name)
        print('send_seconds %.6f' % best(args.runs, lambda: send(port, msg, certs)))
        print('build_send_seconds %.6f' % best(args.runs, lambda: send(port, build(data, name), certs)))
        if certs:
            print('handshake_seconds %.6f' % best(args.runs, lambda: open_session(port, certs).quit()))
        print('peer_smtp_port %d' % port)
        if own_peer and args.keep_peer:
            print('peer_dir %s' % peer_dir)
    finally:
        if own_peer and not args.keep_peer:
            smtp_peer.stop_peer(peer_dir)
            shutil.rmtree(peer_dir, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
