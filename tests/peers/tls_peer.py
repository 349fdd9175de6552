#!/usr/bin/env python3
"""TLS echo servers on loopback for the TLS engine's tests (Python's ssl module).

usage:
  tls_peer.py start STATE_DIR CERT_DIR   start in the background; returns once it listens
  tls_peer.py stop STATE_DIR             stop the peer started there (by its process id)
  tls_peer.py serve STATE_DIR CERT_DIR   run in the foreground

CERT_DIR holds what make_test_certs.sh makes. Once the peer listens, STATE_DIR/peer.ports holds
one "key value" pair a line: a port for every listener below, "control <port>", "pid <pid>".

Echo listeners (key: certificate chain it presents, protocol versions it accepts; the weak
chains and suites at security level 0, so that OpenSSL 3 serves them):
  modern         server.pem          TLS 1.2 and later
  tls12          server.pem          TLS 1.2 only
  tls13          server.pem          TLS 1.3 only
  expired        expired.pem         TLS 1.2 and later
  other          other.pem           TLS 1.2 and later
  rogue          rogue-chain.pem     TLS 1.2 and later
  tls11          server.pem          TLS 1.0 and 1.1 only
  plain          -                   no TLS: writes "220 plain\\r\\n" at once, then reads until the close
  sha1-leaf, sha1-inter, rsa1024-leaf, rsa1024-inter, p192-leaf, p192-inter
                 <key>.pem           TLS 1.2 (chains below the floor: make_test_certs.sh)
  system         system-chain.pem    TLS 1.2 (a chain to the "system" authority)
  rsa-kx         server.pem          TLS 1.2 with AES128-GCM-SHA256 only (RSA key exchange)
  cbc            server.pem          TLS 1.2 with ECDHE-RSA-AES128-SHA only (CBC and HMAC)
  garbage        server.pem          TLS 1.2; bytes that are no TLS record right after the handshake

An echo connection: the handshake; then the line "ready <version>\\n" (sent at once, so that it
may reach the client with the handshake's last message); then every byte received is sent back,
until the client's close_notify (answered with one) or its close.

SMTP listeners (pyOpenSSL, TLS 1.2 with server.pem after STARTTLS): greeting, EHLO offering
STARTTLS, then inside TLS EHLO offering AUTH PLAIN LOGIN, and 235, 250, 354, 221 to the rest; the
mail is read to its ".", and after QUIT the connection to its end (a close_notify shows as the
command "CLOSE_NOTIFY"). Each misbehaves as its key says:
  smtp              not at all
  smtp-renegotiate  answers MAIL FROM with a request to renegotiate (HelloRequest)
  smtp-flip         answers MAIL FROM with "250 ok" whose record has one bit flipped
  smtp-garbage      sends bytes that are no TLS record right after the handshake
  smtp-stall        answers STARTTLS, then never the handshake
  smtp-rsa-kx       negotiates AES128-GCM-SHA256 (RSA key exchange)
  smtp-flip@window  as smtp-flip, for another test program than the one that uses smtp-flip
After a misbehaviour the listener reads until the client closes.

Control: TCP on 127.0.0.1:<control>, one request line, one response line.
  STATS <key>   waits (10 s at most) until no connection of that listener is open, then
                "OK <handshakes completed> <handshakes failed> <application bytes received>
                <server name the last client sent, or -> <commands>"; commands: for an SMTP
                listener the verbs received inside TLS, joined by commas ("-": none; "PASSWORD"
                for a line holding the password "s3cret" in base64 or in the clear); the counts
                start again from 0
  SHUTDOWN      "OK", then the peer ends
"""
import base64
import os
import socket
import ssl
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import peer_process  # noqa: E402

from OpenSSL import SSL  # noqa: E402

V12, V13, TOP = ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3, ssl.TLSVersion.MAXIMUM_SUPPORTED
WEAK = 'DEFAULT:@SECLEVEL=0'
# key: (chain, its leaf's key, lowest version, highest version, ciphers or None)
LISTENERS = {
    'modern': ('server.pem', 'leaf.key', V12, TOP, None),
    'tls12': ('server.pem', 'leaf.key', V12, V12, None),
    'tls13': ('server.pem', 'leaf.key', V13, V13, None),
    'expired': ('expired.pem', 'leaf.key', V12, TOP, None),
    'other': ('other.pem', 'leaf.key', V12, TOP, None),
    'rogue': ('rogue-chain.pem', 'leaf.key', V12, TOP, None),
    'tls11': ('server.pem', 'leaf.key', ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1, WEAK),
    'plain': ('server.pem', 'leaf.key', V12, TOP, None),
    'sha1-leaf': ('sha1-leaf.pem', 'leaf.key', V12, V12, WEAK),
    'sha1-inter': ('sha1-inter.pem', 'leaf.key', V12, V12, WEAK),
    'rsa1024-leaf': ('rsa1024-leaf.pem', 'rsa1024.key', V12, V12, WEAK),
    'rsa1024-inter': ('rsa1024-inter.pem', 'leaf.key', V12, V12, WEAK),
    'p192-leaf': ('p192-leaf.pem', 'p192.key', V12, V12, WEAK),
    'p192-inter': ('p192-inter.pem', 'leaf.key', V12, V12, WEAK),
    'system': ('system-chain.pem', 'leaf.key', V12, V12, None),
    'rsa-kx': ('server.pem', 'leaf.key', V12, V12, 'AES128-GCM-SHA256'),
    'cbc': ('server.pem', 'leaf.key', V12, V12, 'ECDHE-RSA-AES128-SHA:@SECLEVEL=0'),
    'garbage': ('server.pem', 'leaf.key', V12, V12, None),
}
# "@window": the registration window's own copy, so that test programs running at the same time
# never share a listener (STATS would count the other's connections).
SMTP_LISTENERS = ('smtp', 'smtp-renegotiate', 'smtp-flip', 'smtp-garbage', 'smtp-stall', 'smtp-rsa-kx', 'smtp-flip@window')
# What the garbage listeners send after the handshake: no TLS record starts with a zero byte.
GARBAGE = b'\x00 no TLS record\r\n'
PASSWORD = b's3cret'


class Listener:
    def __init__(self, key, cert_dir: Path):
        self.key = key
        self.lock = threading.Condition()
        self.open = 0
        self.completed = self.failed = self.received = 0
        self.server_name = '-'
        self.commands = []
        self.setup(cert_dir)
        self.socket = socket.create_server(('127.0.0.1', 0))
        self.port = self.socket.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def setup(self, cert_dir):
        chain, key, lowest, highest, ciphers = LISTENERS[self.key]
        self.plain = self.key == 'plain'
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if ciphers:
            self.context.set_ciphers(ciphers)
        self.context.load_cert_chain(cert_dir / chain, cert_dir / key)
        self.context.minimum_version = lowest
        self.context.maximum_version = highest
        self.context.sni_callback = self.note_server_name

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
            if self.key == 'garbage':
                os.write(tls.fileno(), GARBAGE)
                while os.read(tls.fileno(), 65536):
                    pass
                return
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
            line = 'OK %d %d %d %s %s' % (self.completed, self.failed, self.received, self.server_name,
                                          ','.join(self.commands) or '-')
            self.completed = self.failed = self.received = 0
            self.commands = []
            return line


def decoded(word: bytes) -> bytes:
    try:
        return base64.b64decode(word, validate=True)
    except ValueError:
        return b''


class SmtpListener(Listener):
    """An SMTP server with STARTTLS over pyOpenSSL's memory BIOs, so that it can write records
    of its own making: a renegotiation request, a record with a flipped bit, bytes that are no
    record."""

    def setup(self, cert_dir):
        self.plain = False
        kind = self.key.split('@')[0]
        self.behaviour = kind[len('smtp-'):] if kind != 'smtp' else ''
        self.context = SSL.Context(SSL.TLS_SERVER_METHOD)
        self.context.set_min_proto_version(SSL.TLS1_2_VERSION)
        self.context.set_max_proto_version(SSL.TLS1_2_VERSION)
        self.context.use_certificate_chain_file(str(cert_dir / 'server.pem'))
        self.context.use_privatekey_file(str(cert_dir / 'leaf.key'))
        if self.behaviour == 'rsa-kx':
            self.context.set_cipher_list(b'AES128-GCM-SHA256')

        def servername(connection):
            with self.lock:
                self.server_name = (connection.get_servername() or b'-').decode()
        self.context.set_tlsext_servername_callback(servername)

    def serve(self, client):
        try:
            with self.lock:
                self.server_name = '-'
            SmtpSession(self, client).run()
        except (OSError, SSL.Error):
            pass
        finally:
            client.close()
            with self.lock:
                self.open -= 1
                self.lock.notify_all()

    def note(self, line: bytes):
        with self.lock:
            self.received += len(line)
            self.commands.append(line.split(b' ', 1)[0].decode('latin-1').upper().strip())
            if any(PASSWORD in word for word in [line] + [decoded(w) for w in line.split(b' ')]):
                self.commands.append('PASSWORD')


class SmtpSession:
    def __init__(self, listener, client):
        self.listener, self.client = listener, client
        self.tls = None
        self.buffer = b''
        self.close_notify = False

    def flush(self):
        while True:
            try:
                data = self.tls.bio_read(65536)
            except SSL.WantReadError:
                return
            self.client.sendall(data)

    def receive(self):
        """Bytes of the connection (decrypted inside TLS); b'' at its end."""
        while True:
            if self.tls is None:
                return self.client.recv(65536)
            try:
                return self.tls.recv(65536)
            except SSL.WantReadError:
                self.flush()
            except SSL.ZeroReturnError:
                self.close_notify = True
                return b''
            except SSL.Error:
                return b''
            data = self.client.recv(65536)
            if not data:
                return b''
            self.tls.bio_write(data)

    def line(self):
        while b'\n' not in self.buffer:
            data = self.receive()
            if not data:
                return None
            self.buffer += data
        line, self.buffer = self.buffer.split(b'\n', 1)
        return line.rstrip(b'\r')

    def send(self, text: bytes):
        if self.tls is None:
            self.client.sendall(text)
            return
        self.tls.sendall(text)
        self.flush()

    def drain(self):
        """Reads until the client closes, answering nothing."""
        while self.client.recv(65536):
            pass

    def handshake(self):
        self.tls = SSL.Connection(self.listener.context, None)
        self.tls.set_accept_state()
        while True:
            try:
                self.tls.do_handshake()
                break
            except SSL.WantReadError:
                self.flush()
                data = self.client.recv(65536)
                if not data:
                    raise OSError('closed in the handshake')
                self.tls.bio_write(data)
        self.flush()
        self.buffer = b''
        with self.listener.lock:
            self.listener.completed += 1

    def run(self):
        behaviour = self.listener.behaviour
        self.send(b'220 hostile ESMTP\r\n')
        while True:
            line = self.line()
            if line is None:
                return
            verb = line.split(b' ', 1)[0].upper()
            if self.tls is not None:
                self.listener.note(line)
            if verb == b'EHLO':
                self.send(b'250-hostile\r\n' + (b'250 AUTH PLAIN LOGIN\r\n' if self.tls else b'250 STARTTLS\r\n'))
            elif verb == b'STARTTLS' and self.tls is None:
                self.send(b'220 go ahead\r\n')
                if behaviour == 'stall':
                    return self.drain()
                try:
                    self.handshake()
                except SSL.Error:
                    with self.listener.lock:
                        self.listener.failed += 1
                    return
                if behaviour == 'garbage':
                    self.client.sendall(GARBAGE)
                    return self.drain()
            elif self.tls is None:
                self.send(b'530 STARTTLS first\r\n')
            elif verb == b'AUTH':
                self.send(b'235 ok\r\n')
            elif verb == b'MAIL' and behaviour == 'renegotiate':
                self.tls.renegotiate()
                try:
                    self.tls.do_handshake()
                except SSL.WantReadError:
                    pass
                self.flush()
                return self.drain()
            elif verb == b'MAIL' and behaviour == 'flip':
                self.tls.sendall(b'250 ok\r\n')
                record = bytearray(self.tls.bio_read(65536))
                record[-1] ^= 1
                self.client.sendall(bytes(record))
                return self.drain()
            elif verb == b'DATA':
                self.send(b'354 go on\r\n')
                while line is not None and line != b'.':
                    line = self.line()
                self.listener.note(b'.')
                self.send(b'250 queued\r\n')
            elif verb == b'QUIT':
                self.send(b'221 bye\r\n')
                # The client's end: with TLS, its close_notify is noted as a command.
                while self.receive():
                    pass
                if self.close_notify:
                    self.listener.note(b'close_notify')
                return
            else:
                self.send(b'250 ok\r\n')


def serve(state_dir: Path, cert_dir: Path):
    listeners = {key: Listener(key, cert_dir) for key in LISTENERS}
    listeners.update({key: SmtpListener(key, cert_dir) for key in SMTP_LISTENERS})
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
