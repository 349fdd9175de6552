#!/usr/bin/env python3
"""TLS echo servers on loopback for the TLS engine's tests (Python's ssl module).

usage:
  tls_peer.py start STATE_DIR CERT_DIR   start in the background; returns once it listens
  tls_peer.py stop STATE_DIR             stop the peer started there (by its process id)
  tls_peer.py serve STATE_DIR CERT_DIR   run in the foreground

CERT_DIR holds what make_test_certs.sh makes. Once the peer listens, STATE_DIR/peer.ports holds
one "key value" pair a line: a port for every listener below, "control <port>", "pid <pid>".

Listeners (key: certificate chain it presents, protocol versions it accepts):
  modern   server.pem        TLS 1.2 and later
  tls12    server.pem        TLS 1.2 only
  tls13    server.pem        TLS 1.3 only
  expired  expired.pem       TLS 1.2 and later
  other    other.pem         TLS 1.2 and later
  rogue    rogue-chain.pem   TLS 1.2 and later
  tls11    server.pem        TLS 1.0 and 1.1 only (security level 0, so that OpenSSL 3 serves them)
  plain    -                 no TLS: writes "220 plain\\r\\n" at once, then reads until the close

A connection: the handshake; then the line "ready <version>\\n" (sent at once, so that it may
reach the client with the handshake's last message); then every byte received is sent back,
until the client's close_notify (answered with one) or its close.

Control: TCP on 127.0.0.1:<control>, one request line, one response line.
  STATS <key>   waits (10 s at most) until no connection of that listener is open, then
                "OK <handshakes completed> <handshakes failed> <application bytes received>
                <server name the last client sent, or ->"; the counts start again from 0
  SHUTDOWN      "OK", then the peer ends
"""
import os
import socket
import ssl
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import peer_process  # noqa: E402

LISTENERS = {
    'modern': ('server.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED),
    'tls12': ('server.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_2),
    'tls13': ('server.pem', ssl.TLSVersion.TLSv1_3, ssl.TLSVersion.TLSv1_3),
    'expired': ('expired.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED),
    'other': ('other.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED),
    'rogue': ('rogue-chain.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED),
    'tls11': ('server.pem', ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1),
    'plain': ('server.pem', ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED),
}


class Listener:
    def __init__(self, key, cert_dir: Path):
        chain, lowest, highest = LISTENERS[key]
        self.plain = key == 'plain'
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert_dir / chain, cert_dir / 'leaf.key')
        if lowest < ssl.TLSVersion.TLSv1_2:
            self.context.set_ciphers('DEFAULT:@SECLEVEL=0')
        self.context.minimum_version = lowest
        self.context.maximum_version = highest
        self.context.sni_callback = self.note_server_name
        self.lock = threading.Condition()
        self.open = 0
        self.completed = self.failed = self.received = 0
        self.server_name = '-'
        self.socket = socket.create_server(('127.0.0.1', 0))
        self.port = self.socket.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def note_server_name(self, _connection, name, _context):
        with self.lock:
            self.server_name = name or '-'

    def accept(self):
        while True:
            client, _ = self.socket.accept()
            with self.lock:
                self.open += 1
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def serve(self, client):
        try:
            with self.lock:
                self.server_name = '-'
            if self.plain:
                client.sendall(b'220 plain\r\n')
                while client.recv(65536):
                    pass
                return
            try:
                tls = self.context.wrap_socket(client, server_side=True)
            except (ssl.SSLError, OSError):
                with self.lock:
                    self.failed += 1
                return
            with self.lock:
                self.completed += 1
            try:
                tls.sendall(b'ready %s\n' % tls.version().encode())
                while True:
                    data = tls.recv(65536)
                    if not data:  # close_notify
                        tls.unwrap()
                        break
                    with self.lock:
                        self.received += len(data)
                    tls.sendall(data)
            except (ssl.SSLError, OSError):
                pass
            finally:
                tls.close()
        finally:
            client.close()
            with self.lock:
                self.open -= 1
                self.lock.notify_all()

    def stats(self):
        with self.lock:
            self.lock.wait_for(lambda: self.open == 0, timeout=10)
            line = 'OK %d %d %d %s' % (self.completed, self.failed, self.received, self.server_name)
            self.completed = self.failed = self.received = 0
            return line


def serve(state_dir: Path, cert_dir: Path):
    listeners = {key: Listener(key, cert_dir) for key in LISTENERS}
    control = socket.create_server(('127.0.0.1', 0))
    tmp = state_dir / 'peer.ports.tmp'
    tmp.write_text(''.join('%s %d\n' % (k, l.port) for k, l in listeners.items()) +
                   'control %d\npid %d\n' % (control.getsockname()[1], os.getpid()))
    tmp.rename(state_dir / 'peer.ports')
    while True:
        connection, _ = control.accept()
        with connection:
            request = connection.makefile('rb').readline().decode('ascii', 'replace').split()
            if request[:1] == ['SHUTDOWN']:
                connection.sendall(b'OK\n')
                return
            if len(request) == 2 and request[0] == 'STATS' and request[1] in listeners:
                reply = listeners[request[1]].stats()
            else:
                reply = 'ERR unknown request'
            connection.sendall(reply.encode() + b'\n')


def start_peer(state_dir: Path, cert_dir: Path) -> int:
    return peer_process.start_peer(state_dir, Path(__file__).resolve(), [cert_dir])


def main(argv):
    if len(argv) == 4 and argv[1] in ('start', 'serve'):
        state_dir, cert_dir = Path(argv[2]).resolve(), Path(argv[3]).resolve()
        if argv[1] == 'start':
            return start_peer(state_dir, cert_dir)
        serve(state_dir, cert_dir)
        return 0
    if len(argv) == 3 and argv[1] == 'stop':
        peer_process.stop_peer(Path(argv[2]).resolve(), Path(__file__).resolve())
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
