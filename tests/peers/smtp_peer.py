#!/usr/bin/env python3
"""A recording SMTP server on loopback for the mail client's tests (aiosmtpd underneath).

usage:
  smtp_peer.py start STATE_DIR    start the peer in the background; returns once it listens
  smtp_peer.py stop STATE_DIR     stop the peer started there (by its process id)
  smtp_peer.py serve STATE_DIR    run in the foreground
  smtp_peer.py request STATE_DIR LINE
                                  one control request to the peer started there; prints the
                                  response, exits 1 unless it starts with "OK"

Once it listens, STATE_DIR/peer.ports holds one "key value" pair a line:
  smtp <port>       a listener without a script (listener id 0)
  control <port>    the control port
  pid <pid>
  dir <STATE_DIR>

Control: TCP on 127.0.0.1:<control>. A request is one line; a response starts with one line,
"OK ..." or "ERR <reason>"; lines end with LF. A connection may carry several requests.
  LISTEN <json>                 a new SMTP listener on a free port that answers as the script
                                says: "OK <id> <port>"
  TRANSCRIPT <id> [<seconds>]   waits (10 s by default) until the listener has had a session
                                and all its sessions have ended, then "OK <n>" and n lines
  FILES <id>                    "OK <n>" and the n session folders of the listener
  CLOSE <id>                    the listener stops listening (its records stay): "OK"
  CHECK <json>                  checks a recorded mail with mail_check.py: "OK" or "ERR <why>"
  SHUTDOWN                      "OK", then the peer ends

A script: {"rules": [rule, ...], "record": true, "port": 0}. "record": false keeps nothing
(benchmarks); "port" asks for that port on 127.0.0.1 instead of a free one (for a program built
to use a fixed port). Submission over TLS:
  "tls": "starttls" | "implicit"   STARTTLS offered and required before any mail command, or
                                   TLS from the first byte
  "certs": "DIR", "cert": "server.pem"   the chain presented (leaf.key is its key), as
                                   tests/peers/make_test_certs.sh makes them
  "auth": {"user": "u", "password": "p"}   AUTH (PLAIN, LOGIN) required, inside TLS only
The transcript shows a handshake as "# tls" and what went inside it in the clear.
A rule: {"on": "greeting" | a command ("HELO", "RCPT" ...) | "." (the end of the data),
         "nth": k       only the k-th such command of the session (from 1),
         "arg": "text"  only when the command's argument contains the text,
         then one of  "reply": "text"  (CR LF appended; "\r\n" inside makes a multi-line reply),
                      "raw": "bytes"   (written exactly, latin-1),
                      "silent": true   (no answer at all),
         "close": true  (close the connection afterwards; alone: close without an answer),
         "delay": s     (wait s seconds first),
         "pass": bool   (run the server's own handling of the command, answering with the
                        rule instead; by default true for a "reply" starting with 2 or 3, so
                        that the session's state follows what the client was told)}
The first matching rule applies; commands without one are handled by aiosmtpd.

Every session of a listener is recorded in STATE_DIR/rec/<id>/session-<n>/: transcript.txt,
wire.bin (every byte the client sent), and for each mail k: mail-k.raw (the data as sent,
dot-stuffed, without the final "."), mail-k.eml (unstuffed) and mail-k.json (the envelope).
Transcript lines:
  # session <n>            first line of a session
  < <line>                 a server reply line
  <! <bytes>               bytes written by a "raw" rule
  > <line>                 a client line without its CR LF (a line that ended in a bare LF
                           keeps it, shown as \\n), including the "." that ends the data
  = mail-<k> <n> bytes     the data of mail k
  # closed | # open        the session's end, or a snapshot taken while it was still open
Bytes outside printable ASCII are shown as \\r \\n \\t \\xNN, a backslash as \\\\.
"""
import asyncio
import json
import logging
import os
import re
import shutil
import signal
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import mail_check  # noqa: E402
import peer_process  # noqa: E402

import ssl  # noqa: E402

from aiosmtpd.smtp import SMTP, AuthResult  # noqa: E402

HOST_NAME = 'peer.test'
IDENT = 'test peer'
IDLE_EXIT_SECONDS = 1800
SWALLOW = '\0swallow'


def escape(data: bytes) -> str:
    out = []
    for c in data:
        if c == 0x5C:
            out.append('\\\\')
        elif 0x20 <= c < 0x7F:
            out.append(chr(c))
        elif c == 13:
            out.append('\\r')
        elif c == 10:
            out.append('\\n')
        elif c == 9:
            out.append('\\t')
        else:
            out.append('\\x%02x' % c)
    return ''.join(out)


def unstuff(raw: bytes) -> bytes:
    return re.sub(rb'(^|\r\n)\.', rb'\1', raw)


class SessionRecord:
    """What one SMTP session did, as seen on the wire."""

    def __init__(self, listener, number):
        self.listener = listener
        self.number = number
        self.dir = listener.dir / ('session-%d' % number)
        self.lines = ['# session %d' % number]
        self.wire = bytearray()
        self.pending = bytearray()
        self.in_data = False
        self.data = bytearray()
        self.scanned = 0
        self.mails = []
        self.counts = {}
        self.closed = False
        if listener.record:
            self.dir.mkdir(parents=True, exist_ok=True)

    def count(self, command):
        self.counts[command] = self.counts.get(command, 0) + 1
        return self.counts[command]

    def received(self, data: bytes):
        self.wire += data
        self.pending += data
        while self.pending:
            if self.in_data:
                self.data += self.pending
                self.pending.clear()
                self._scan_data()
            else:
                i = self.pending.find(b'\n')
                if i < 0:
                    break
                line = bytes(self.pending[:i + 1])
                del self.pending[:i + 1]
                if line.endswith(b'\r\n'):
                    line = line[:-2]
                self.lines.append('> ' + escape(line))

    def _scan_data(self):
        # The data ends at the first line that is "." alone.
        if self.data.startswith(b'.\r\n'):
            end, rest = 0, 3
        else:
            j = self.data.find(b'\r\n.\r\n', max(0, self.scanned - 4))
            if j < 0:
                self.scanned = len(self.data)
                return
            end, rest = j + 2, j + 5
        leftover = bytes(self.data[rest:])
        self._end_mail(bytes(self.data[:end]), finished=True)
        self.lines.append('> .')
        self.pending += leftover

    def _end_mail(self, raw: bytes, finished: bool):
        self.in_data = False
        self.data = bytearray()
        self.scanned = 0
        k = len(self.mails) + 1
        self.mails.append({'raw': raw, 'envelope': None})
        self.lines.append('= mail-%d %d bytes%s' % (k, len(raw), '' if finished else ', unfinished'))
        if self.listener.record:
            (self.dir / ('mail-%d.raw' % k)).write_bytes(raw)
            (self.dir / ('mail-%d.eml' % k)).write_bytes(unstuff(raw))

    def begin_data(self):
        self.in_data = True
        self.data = bytearray()
        self.scanned = 0

    def envelope(self, mail_from, rcpt_tos):
        if not self.mails:
            return
        k = len(self.mails)
        self.mails[-1]['envelope'] = {'mail_from': mail_from, 'rcpt_tos': list(rcpt_tos)}
        if self.listener.record:
            (self.dir / ('mail-%d.json' % k)).write_text(json.dumps(self.mails[-1]['envelope']))

    def replied(self, text: bytes):
        for line in text.split(b'\r\n'):
            self.lines.append('< ' + escape(line))

    def wrote_raw(self, data: bytes):
        self.lines.append('<! ' + escape(data))

    def close(self):
        if self.closed:
            return
        if self.in_data:
            self._end_mail(bytes(self.data), finished=False)
        elif self.pending:
            self.lines.append('> ' + escape(bytes(self.pending)))
        self.lines.append('# closed')
        self.closed = True
        if self.listener.record:
            (self.dir / 'transcript.txt').write_text('\n'.join(self.lines) + '\n', encoding='ascii')
            (self.dir / 'wire.bin').write_bytes(bytes(self.wire))
        self.listener.changed.set()


class PeerHandler:
    async def handle_DATA(self, server, session, envelope):
        return await server.end_of_data(envelope)


class RecordingSMTP(SMTP):
    def __init__(self, listener):
        secure = {}
        if listener.tls == 'starttls':
            secure = {'tls_context': listener.context, 'require_starttls': True}
        if listener.auth:
            # Inside TLS only: with STARTTLS the server offers AUTH after it; from the first
            # byte the whole session is inside.
            secure.update(auth_required=True, auth_require_tls=listener.tls != 'implicit',
                          authenticator=listener.authenticate)
        super().__init__(PeerHandler(), hostname=HOST_NAME, ident=IDENT, loop=listener.peer.loop,
                         data_size_limit=64 << 20, **secure)
        self.listener = listener
        self.rec = None
        self.greeted = False
        # The rule of the command now running with "pass": its first reply is replaced, the
        # rest of the server's own replies to it are dropped.
        self.substitute = None
        self.substituted = False
        for name, method in list(self._smtp_methods.items()):
            self._smtp_methods[name] = self._scripted(name, method)

    # -- the wire ---------------------------------------------------------------------------
    def connection_made(self, transport):
        if self.rec is None:
            self.rec = self.listener.new_session()
            if self.listener.tls == 'implicit':
                self.rec.lines.append('# tls')
        elif self.listener.record:
            self.rec.lines.append('# tls') # the STARTTLS handshake is done
        super().connection_made(transport)

    def data_received(self, data):
        if self.listener.record:
            self.rec.received(data)
        super().data_received(data)

    def connection_lost(self, error):
        super().connection_lost(error)
        self.rec.close()

    # -- replies ----------------------------------------------------------------------------
    async def send_reply(self, status):
        data = status if isinstance(status, bytes) else status.encode('latin-1')
        if self.listener.record:
            self.rec.replied(data)
            if data.startswith(b'354'):
                self.rec.begin_data()
        if self.transport is not None:
            await SMTP.push(self, data)

    async def push(self, status):
        if status == SWALLOW:
            return
        if not self.greeted:
            self.greeted = True
            rule = self.listener.match(self.rec, 'GREETING', '')
            if rule is not None:
                await self.act(rule)
                return
        if self.substitute is not None:
            if not self.substituted:
                self.substituted = True
                await self.act(self.substitute)
            return
        await self.send_reply(status)

    async def act(self, rule):
        if rule.get('delay'):
            await asyncio.sleep(float(rule['delay']))
        if 'reply' in rule:
            await self.send_reply(rule['reply'])
        elif 'raw' in rule:
            data = rule['raw'].encode('latin-1')
            if self.listener.record:
                self.rec.wrote_raw(data)
            if self.transport is not None:
                self._writer.write(data)
                await self._writer.drain()
        if rule.get('close') and self.transport is not None:
            self.transport.close()

    # -- commands ---------------------------------------------------------------------------
    def _scripted(self, name, method):
        async def run(arg):
            rule = self.listener.match(self.rec, name, arg or '')
            if rule is None:
                return await method(arg)
            reply = rule.get('reply', '')
            if not rule.get('pass', 'reply' in rule and reply[:1] in ('2', '3')):
                return await self.act(rule)
            self.substitute, self.substituted = rule, False
            try:
                await method(arg)
                if not self.substituted:
                    await self.act(rule)
            finally:
                self.substitute = None
        return run

    async def end_of_data(self, envelope):
        self.rec.envelope(envelope.mail_from, envelope.rcpt_tos)
        rule = self.listener.match(self.rec, '.', '')
        if rule is None:
            return '250 OK'
        await self.act(rule)
        return SWALLOW


class Listener:
    def __init__(self, peer, ident, script):
        self.peer = peer
        self.ident = ident
        self.rules = list(script.get('rules', []))
        self.record = bool(script.get('record', True))
        self.dir = peer.state_dir / 'rec' / str(ident)
        self.sessions = []
        self.changed = asyncio.Event()
        self.server = None
        self.port = int(script.get('port', 0))
        self.tls = script.get('tls')
        self.auth = script.get('auth')
        self.context = None
        if self.tls:
            certs = Path(script['certs'])
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(certs / script.get('cert', 'server.pem'), certs / 'leaf.key')

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        self.peer.touch()
        good = (auth_data.login.decode('utf-8', 'replace') == self.auth.get('user') and
                auth_data.password.decode('utf-8', 'replace') == self.auth.get('password'))
        return AuthResult(success=good)

    async def open(self):
        self.server = await self.peer.loop.create_server(lambda: RecordingSMTP(self), '127.0.0.1', self.port,
                                                         reuse_address=True,
                                                         ssl=self.context if self.tls == 'implicit' else None)
        self.port = self.server.sockets[0].getsockname()[1]

    def new_session(self):
        self.peer.touch()
        rec = SessionRecord(self, len(self.sessions) + 1)
        self.sessions.append(rec)
        self.changed.set()
        return rec

    def match(self, rec, command, arg):
        n = rec.count(command)
        for rule in self.rules:
            if str(rule.get('on', '')).upper() != command:
                continue
            if 'nth' in rule and int(rule['nth']) != n:
                continue
            if 'arg' in rule and str(rule['arg']) not in arg:
                continue
            return rule
        return None

    def done(self):
        return bool(self.sessions) and all(s.closed for s in self.sessions)

    def transcript(self):
        lines = []
        for s in self.sessions:
            lines += s.lines
            if not s.closed:
                lines.append('# open')
        return lines


class Peer:
    def __init__(self, state_dir: Path):
        self.state_dir = state_dir
        self.listeners = {}
        self.loop = None
        self.stopping = None
        self.last_activity = time.monotonic()

    def touch(self):
        self.last_activity = time.monotonic()

    async def add_listener(self, script):
        ident = len(self.listeners)
        listener = Listener(self, ident, script)
        await listener.open()
        self.listeners[ident] = listener
        return listener

    async def run(self):
        self.loop = asyncio.get_running_loop()
        self.stopping = self.loop.create_future()
        shutil.rmtree(self.state_dir / 'rec', ignore_errors=True)
        default = await self.add_listener({})
        control = await asyncio.start_server(self.control_client, '127.0.0.1', 0)
        ports = self.state_dir / 'peer.ports'
        tmp = self.state_dir / 'peer.ports.tmp'
        tmp.write_text('smtp %d\ncontrol %d\npid %d\ndir %s\n' % (
            default.port, control.sockets[0].getsockname()[1], os.getpid(), self.state_dir))
        tmp.replace(ports)
        for sig in (signal.SIGTERM, signal.SIGINT):
            self.loop.add_signal_handler(sig, self.stop)
        idle = self.loop.create_task(self.idle_watch())
        try:
            await self.stopping
        finally:
            idle.cancel()
            control.close()
            for listener in self.listeners.values():
                listener.server.close()
            ports.unlink(missing_ok=True)

    def stop(self):
        if not self.stopping.done():
            self.stopping.set_result(None)

    async def idle_watch(self):
        # A peer whose cleanup never ran (an interrupted test run) ends by itself.
        while True:
            await asyncio.sleep(30)
            if time.monotonic() - self.last_activity > IDLE_EXIT_SECONDS:
                self.stop()
                return

    async def control_client(self, reader, writer):
        try:
            while True:
                line = await reader.readline()
                if not line:
                    break
                self.touch()
                try:
                    response = await self.request(line.decode('utf-8').strip())
                except Exception as error:  # a bad request must not end the peer
                    response = ['ERR %s: %s' % (type(error).__name__, str(error).replace('\n', ' '))]
                writer.write(''.join(r + '\n' for r in response).encode('utf-8'))
                await writer.drain()
        finally:
            writer.close()

    async def request(self, line):
        command, _, rest = line.partition(' ')
        command = command.upper()
        if command == 'LISTEN':
            listener = await self.add_listener(json.loads(rest) if rest.strip() else {})
            return ['OK %d %d' % (listener.ident, listener.port)]
        if command == 'TRANSCRIPT':
            parts = rest.split()
            listener = self.listeners[int(parts[0])]
            await self.wait_done(listener, float(parts[1]) if len(parts) > 1 else 10.0)
            lines = listener.transcript()
            return ['OK %d' % len(lines)] + lines
        if command == 'FILES':
            listener = self.listeners[int(rest.strip())]
            dirs = [str(s.dir) for s in listener.sessions]
            return ['OK %d' % len(dirs)] + dirs
        if command == 'CLOSE':
            listener = self.listeners[int(rest.strip())]
            listener.server.close()
            await listener.server.wait_closed()
            return ['OK']
        if command == 'CHECK':
            problem = self.check(json.loads(rest))
            return ['OK'] if problem is None else ['ERR ' + problem.replace('\n', ' ')]
        if command == 'SHUTDOWN':
            self.loop.call_soon(self.stop)
            return ['OK']
        return ['ERR unknown request ' + command]

    async def wait_done(self, listener, seconds):
        deadline = self.loop.time() + seconds
        while not listener.done():
            remaining = deadline - self.loop.time()
            if remaining <= 0:
                return
            listener.changed.clear()
            try:
                await asyncio.wait_for(listener.changed.wait(), remaining)
            except asyncio.TimeoutError:
                return

    def check(self, request):
        """{"listener": id, "session": n, "mail": k} names the mail; with "registration" it is
        checked by mail_check.check_registration, else the rest goes to mail_check.check_mail."""
        listener = self.listeners[int(request.get('listener', 0))]
        session = listener.sessions[int(request.get('session', 1)) - 1]
        mail = session.mails[int(request.get('mail', 1)) - 1]
        if 'registration' in request:
            return mail_check.check_registration(unstuff(mail['raw']), request['registration'])
        return mail_check.check_mail(unstuff(mail['raw']), raw=mail['raw'],
                                     attachments=request.get('attachments'),
                                     encoding=request.get('encoding', 'base64'),
                                     body=request.get('body'))


# -- process control --------------------------------------------------------------------------

def read_ports(state_dir: Path):
    return peer_process.read_ports(state_dir)


def stop_peer(state_dir: Path) -> bool:
    return peer_process.stop_peer(state_dir, Path(__file__).resolve())


def start_peer(state_dir: Path, quiet=False) -> int:
    return peer_process.start_peer(state_dir, Path(__file__).resolve(), [], quiet)


def request_peer(state_dir: Path, line: str) -> int:
    ports = read_ports(state_dir)
    if not ports:
        sys.stderr.write('no SMTP peer runs in %s\n' % state_dir)
        return 1
    with socket.create_connection(('127.0.0.1', int(ports['control'])), timeout=60) as s:
        f = s.makefile('rb')
        s.sendall(line.encode('utf-8') + b'\n')
        first = f.readline().decode('utf-8').rstrip('\n')
        print(first)
        if first.startswith('OK ') and line.split(' ', 1)[0].upper() in ('TRANSCRIPT', 'FILES'):
            for _ in range(int(first.split()[1])):
                print(f.readline().decode('utf-8').rstrip('\n'))
    return 0 if first.startswith('OK') else 1


def main(argv):
    if len(argv) == 4 and argv[1] == 'request':
        return request_peer(Path(argv[2]).resolve(), argv[3])
    if len(argv) != 3 or argv[1] not in ('start', 'stop', 'serve'):
        sys.stderr.write(__doc__)
        return 2
    state_dir = Path(argv[2]).resolve()
    if argv[1] == 'start':
        return start_peer(state_dir)
    if argv[1] == 'stop':
        stop_peer(state_dir)
        return 0
    logging.basicConfig(level=logging.WARNING, format='%(asctime)s %(name)s %(message)s')
    asyncio.run(Peer(state_dir).run())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
