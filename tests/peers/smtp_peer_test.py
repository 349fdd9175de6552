#!/usr/bin/env python3
"""The SMTP peer and the mail checker, proven with Python's smtplib and plain sockets before
the mail client uses them.

usage: smtp_peer_test.py STATE_DIR   (the folder of a peer started with smtp_peer.py start)
"""
import base64
import binascii
import email.policy
import json
import os
import smtplib
import socket
import sys
import tempfile
import unittest
from email.message import EmailMessage
from pathlib import Path

STATE_DIR = Path(sys.argv.pop(1) if len(sys.argv) > 1 else os.environ['SMTP_PEER_DIR'])
HOST = '127.0.0.1'


class Control:
    """The peer's control connection, as a test of the client would hold it."""

    def __init__(self):
        ports = dict(line.split(' ', 1) for line in (STATE_DIR / 'peer.ports').read_text().splitlines())
        self.default_port = int(ports['smtp'])
        self.sock = socket.create_connection((HOST, int(ports['control'])), timeout=30)
        self.file = self.sock.makefile('rwb')

    def close(self):
        self.file.close()
        self.sock.close()

    def request(self, line, counted=False):
        self.file.write(line.encode('utf-8') + b'\n')
        self.file.flush()
        first = self.file.readline().decode('utf-8').rstrip('\n')
        if not first.startswith('OK'):
            return first, []
        rest = []
        if counted:
            rest = [self.file.readline().decode('utf-8').rstrip('\n') for _ in range(int(first.split()[1]))]
        return first, rest

    def listen(self, rules=(), record=True, port=0):
        first, _ = self.request('LISTEN ' + json.dumps({'rules': list(rules), 'record': record, 'port': port}))
        _, ident, port = first.split()
        return int(ident), int(port)

    def transcript(self, ident, seconds=10):
        return self.request('TRANSCRIPT %d %g' % (ident, seconds), counted=True)[1]

    def check(self, **request):
        return self.request('CHECK ' + json.dumps(request))[0]


GREETING = '< 220 peer.test test peer'


def helo_quit(s):
    s.helo('t')
    return s.quit()


class ScriptedReplies(unittest.TestCase):
    """Each rule kind against smtplib: what the client saw, and the transcript, line by line."""

    @classmethod
    def setUpClass(cls):
        cls.control = Control()

    @classmethod
    def tearDownClass(cls):
        cls.control.close()

    def run_case(self, rules, client, timeout=10):
        ident, port = self.control.listen(rules)
        s = smtplib.SMTP(timeout=timeout)
        try:
            result = client(s, port)
        finally:
            s.close()
        return result, self.control.transcript(ident)

    def test_cases(self):
        connect = lambda s, port: s.connect(HOST, port)  # noqa: E731

        def greeting_refused(s, port):
            with self.assertRaises(smtplib.SMTPConnectError) as caught:
                smtplib.SMTP(HOST, port, timeout=10)
            return caught.exception.smtp_code

        def multi_line_greeting(s, port):
            result = connect(s, port)
            helo_quit(s)
            return result

        def helo(s, port):
            connect(s, port)
            return s.helo('t')

        def helo_then_mail(s, port):
            connect(s, port)
            return s.helo('t'), s.mail('a@b')[0]

        def two_recipients(s, port):
            connect(s, port)
            s.helo('t')
            return s.sendmail('a@b', ['ok@x', 'bad@x'], b'Subject: s\r\n\r\nbody\r\n')

        def data_refused(s, port):
            connect(s, port)
            s.helo('t')
            with self.assertRaises(smtplib.SMTPDataError) as caught:
                s.sendmail('a@b', ['c@d'], b'x\r\n')
            return caught.exception.smtp_code

        def quit_reply(s, port):
            connect(s, port)
            return s.quit()[0]

        def expn(s, port):
            connect(s, port)
            s.helo('t')
            return s.expn('list')

        def mail_reply(s, port):
            connect(s, port)
            s.helo('t')
            return s.mail('a@b')[0]

        def silent_helo(s, port):
            connect(s, port)
            with self.assertRaisesRegex(smtplib.SMTPServerDisconnected, 'timed out'):
                s.helo('t')
            return 'timeout'

        def cut_helo(s, port):
            connect(s, port)
            return s.helo('t')

        mail_lines = ['> mail FROM:<a@b>', '< 250 OK', '> rcpt TO:<c@d>', '< 250 OK', '> data']
        cases = [
            ('greeting 554', [{'on': 'greeting', 'reply': '554 no service'}], greeting_refused, 554,
             ['< 554 no service']),
            ('multi-line greeting', [{'on': 'greeting', 'reply': '220-peer.test first\r\n220 peer.test ready'}],
             multi_line_greeting, (220, b'peer.test first\npeer.test ready'),
             ['< 220-peer.test first', '< 220 peer.test ready', '> helo t', '< 250 peer.test', '> quit', '< 221 Bye']),
            ('HELO 501', [{'on': 'HELO', 'reply': '501 go away'}], helo, (501, b'go away'),
             [GREETING, '> helo t', '< 501 go away']),
            ('HELO continuation, state kept', [{'on': 'helo', 'reply': '250-peer.test\r\n250-second\r\n250 last'}],
             helo_then_mail, ((250, b'peer.test\nsecond\nlast'), 250),
             [GREETING, '> helo t', '< 250-peer.test', '< 250-second', '< 250 last', '> mail FROM:<a@b>', '< 250 OK']),
            ('RCPT 550 for the second of two', [{'on': 'RCPT', 'nth': 2, 'reply': '550 no such user'}],
             two_recipients, {'bad@x': (550, b'no such user')},
             [GREETING, '> helo t', '< 250 peer.test', '> mail FROM:<a@b>', '< 250 OK', '> rcpt TO:<ok@x>',
              '< 250 OK', '> rcpt TO:<bad@x>', '< 550 no such user', '> data',
              '< 354 End data with <CR><LF>.<CR><LF>', '= mail-1 20 bytes', '> .', '< 250 OK']),
            ('RCPT refused by argument', [{'on': 'RCPT', 'arg': 'bad@', 'reply': '550 no'}], two_recipients,
             {'bad@x': (550, b'no')}, None),
            ('DATA 554', [{'on': 'DATA', 'reply': '554 no data'}], data_refused, 554,
             [GREETING, '> helo t', '< 250 peer.test'] + mail_lines + ['< 554 no data']),
            ('end of data 451', [{'on': '.', 'reply': '451 try later'}], data_refused, 451,
             [GREETING, '> helo t', '< 250 peer.test'] + mail_lines +
             ['< 354 End data with <CR><LF>.<CR><LF>', '= mail-1 3 bytes', '> .', '< 451 try later', '> rset',
              '< 250 OK']),
            ('QUIT 421', [{'on': 'QUIT', 'reply': '421 closing'}], quit_reply, 421,
             [GREETING, '> quit', '< 421 closing']),
            ('EXPN continuation', [{'on': 'EXPN', 'reply': '250-a@x\r\n250 b@x'}], expn, (250, b'a@x\nb@x'),
             [GREETING, '> helo t', '< 250 peer.test', '> expn list', '< 250-a@x', '< 250 b@x']),
            ('reply without a number', [{'on': 'MAIL', 'reply': 'fine by me'}], mail_reply, -1,
             [GREETING, '> helo t', '< 250 peer.test', '> mail FROM:<a@b>', '< fine by me']),
            ('silence', [{'on': 'HELO', 'silent': True}], silent_helo, 'timeout', [GREETING, '> helo t']),
            ('closed mid-reply', [{'on': 'HELO', 'raw': '250 peer.te', 'close': True}], cut_helo, (250, b'peer.te'),
             [GREETING, '> helo t', '<! 250 peer.te']),
        ]
        for name, rules, client, want, lines in cases:
            with self.subTest(name):
                timeout = 0.5 if name == 'silence' else 10
                got, transcript = self.run_case(rules, client, timeout)
                self.assertEqual(got, want)
                self.assertEqual(transcript[0], '# session 1')
                self.assertEqual(transcript[-1], '# closed')
                if lines is not None:
                    self.assertEqual(transcript[1:-1], lines)

    def test_sessions_are_numbered_and_an_open_session_is_shown_open(self):
        ident, port = self.control.listen()
        first = smtplib.SMTP(HOST, port, timeout=10)
        first.quit()
        second = smtplib.SMTP(HOST, port, timeout=10)
        try:
            second.helo('t')
            lines = self.control.transcript(ident, seconds=0.3)
        finally:
            second.close()
        self.assertEqual(lines, ['# session 1', GREETING, '> quit', '< 221 Bye', '# closed',
                                 '# session 2', GREETING, '> helo t', '< 250 peer.test', '# open'])

    def test_raw_client_lines_are_shown_exactly(self):
        ident, port = self.control.listen()
        with socket.create_connection((HOST, port), timeout=10) as s:
            f = s.makefile('rb')
            f.readline()
            s.sendall(b'HELO a\\b\n')
            f.readline()
            s.sendall(b'NOOP \x01\xff\r\nQUIT\r\n')
            f.readline()
            f.readline()
        self.assertEqual(self.control.transcript(ident)[2:5],
                         ['> HELO a\\\\b\\n', '< 250 peer.test', '> NOOP \\x01\\xff'])

    def test_bad_requests_are_answered_not_fatal(self):
        self.assertTrue(self.control.request('NONSENSE')[0].startswith('ERR unknown'))
        self.assertTrue(self.control.request('TRANSCRIPT 9999')[0].startswith('ERR KeyError'))
        self.assertTrue(self.control.request('LISTEN {bad json')[0].startswith('ERR JSONDecodeError'))
        self.assertEqual(self.control.request('FILES 0')[0].split()[0], 'OK')


def uuencode(data: bytes, name: str) -> bytes:
    """The client's uuencode layout: "begin 644 NAME", 45-byte lines, back-quote for 0, a "`"
    line, "end"."""
    lines = [binascii.b2a_uu(data[i:i + 45], backtick=True).rstrip(b'\n') for i in range(0, len(data), 45)]
    return b'begin 644 ' + name.encode() + b'\r\n' + b''.join(line + b'\r\n' for line in lines) + b'`\r\nend\r\n'


class RecordedMails(unittest.TestCase):
    """Mails recorded by the peer, checked by mail_check through the CHECK request."""

    @classmethod
    def setUpClass(cls):
        cls.control = Control()
        cls.tmp = tempfile.TemporaryDirectory()
        folder = Path(cls.tmp.name)
        cls.files = {'every-byte.bin': bytes(range(256)) * 41 + b'\r\n.\r\n', 'empty.bin': b''}
        for name, data in cls.files.items():
            (folder / name).write_bytes(data)
        cls.expect = [{'name': n, 'file': str(folder / n)} for n in cls.files]

    @classmethod
    def tearDownClass(cls):
        cls.control.close()
        cls.tmp.cleanup()

    def send(self, data: bytes):
        ident, port = self.control.listen()
        with smtplib.SMTP(HOST, port, timeout=10) as s:
            s.helo('t')
            s.sendmail('a@b', ['c@d'], data)
        self.control.transcript(ident)
        return ident

    def multipart(self, encoding):
        boundary = '====================54535abcxyy===='
        out = ['From: <a@b>', 'To: c@d', 'Mime-Version: 1.0',
               'Content-Type: multipart/mixed; boundary="%s"' % boundary, '', '',
               '--' + boundary, 'Content-Type: text/plain; charset=us-ascii', '', 'text line']
        data = '\r\n'.join(out).encode() + b'\r\n'
        for name, content in self.files.items():
            head = ['--' + boundary, 'Content-Type: application/octet-stream; name="%s"' % name,
                    'Content-Transfer-Encoding: ' + encoding,
                    'Content-Disposition: attachment; filename="%s"' % name, '', '']
            data += '\r\n'.join(head).encode()
            if encoding == 'base64':
                encoded = base64.encodebytes(content).replace(b'\n', b'\r\n')
                data += b''.join(line + b'\r\n' for line in
                                 [encoded.replace(b'\r\n', b'')[i:i + 60]
                                  for i in range(0, len(encoded.replace(b'\r\n', b'')), 60)])
            else:
                data += uuencode(content, name)
        return data + ('--%s--\r\n' % boundary).encode()

    def test_attachments_come_back_in_both_encodings(self):
        for encoding in ('base64', 'x-uuencode'):
            with self.subTest(encoding):
                ident = self.send(self.multipart(encoding))
                self.assertEqual(self.control.check(listener=ident, attachments=self.expect, encoding=encoding,
                                                    body='text line'), 'OK')
                other = 'base64' if encoding != 'base64' else 'x-uuencode'
                self.assertIn('transfer encoding', self.control.check(listener=ident, attachments=self.expect,
                                                                      encoding=other))

    def test_a_mail_built_by_the_email_package_checks(self):
        msg = EmailMessage()
        msg['From'], msg['To'], msg['Subject'] = 'a@b', 'c@d', 's'
        msg.set_content('hello\n')
        for name, data in self.files.items():
            msg.add_attachment(data, maintype='application', subtype='octet-stream', filename=name,
                               params={'name': name})
        msg.set_boundary('====================54535qwerty====')
        ident = self.send(msg.as_bytes(policy=email.policy.SMTP))
        self.assertEqual(self.control.check(listener=ident, attachments=self.expect), 'OK')

    def test_faults_are_reported(self):
        ident = self.send(self.multipart('base64'))
        wrong = [dict(self.expect[0]), self.expect[1]]
        wrong[0]['file'] = self.expect[1]['file']
        self.assertIn('differs', self.control.check(listener=ident, attachments=wrong))
        self.assertIn('parts', self.control.check(listener=ident, attachments=self.expect[:1]))
        self.assertIn('named', self.control.check(listener=ident, attachments=list(reversed(self.expect))))
        self.assertIn('text part differs', self.control.check(listener=ident, attachments=self.expect, body='x'))
        bad = self.multipart('base64').replace(b'54535abcxyy', b'54535abcxyz')
        self.assertIn('boundary', self.control.check(listener=self.send(bad), attachments=self.expect))
        cut = self.multipart('x-uuencode').replace(b'end\r\n--', b'--', 1)
        self.assertIn('"end" line', self.control.check(listener=self.send(cut), attachments=self.expect,
                                                       encoding='x-uuencode'))

    def test_wire_faults_and_dot_stuffing(self):
        ident = self.send(b'Subject: s\r\n\r\n.dot\r\nbare\nLF\r\n')
        self.assertEqual(self.control.check(listener=ident), 'ERR bare LF in the data at byte 25')
        folder = Path(self.control.request('FILES %d' % ident, counted=True)[1][0])
        self.assertIn(b'\r\n..dot\r\n', (folder / 'mail-1.raw').read_bytes())
        self.assertIn(b'\r\n.dot\r\n', (folder / 'mail-1.eml').read_bytes())
        self.assertEqual(json.loads((folder / 'mail-1.json').read_text()), {'mail_from': 'a@b', 'rcpt_tos': ['c@d']})
        self.assertEqual(self.control.check(listener=self.send(b'Subject: s\r\n\r\nok\r\n')), 'OK')

    def test_host_paths_of_wine_drive_z(self):
        import mail_check
        self.assertEqual(mail_check.host_path('Z:\\tmp\\a b\\c.bin'), '/tmp/a b/c.bin')
        self.assertEqual(mail_check.host_path('/tmp/c.bin'), '/tmp/c.bin')


def encoded_word(text: str) -> str:
    return '=?iso-2022-jp?B?%s?=' % base64.b64encode(text.encode('iso2022_jp')).decode('ascii')


REGISTRATION_LINES = ['--ここから--', '', 'お申込日 = 2026/12/08', '作品番号 = ZO000002',
                      'お申込作品名 = デスクトップdoduza', '施設名 = ホテル表参道ソ能', '利用者氏名 = ',
                      '利用者氏名(よみ) = ', '郵便番号 = ', '住所 = ', '電話番号 = ', 'e-mail = a@b.c',
                      'メール受信拒否', '性別 =女性', '年齢 =']
REGISTRATION = {'sender': 'setup@doduza.example', 'registration': 'register@ruviva.example',
                'from_name': 'ホテル表参道ソ能', 'subject': 'ユーザー登録完了メール', 'lines': REGISTRATION_LINES}


def registration_mail(lines=REGISTRATION_LINES, header=None) -> bytes:
    """A registration mail made here, from the codecs of Python, in the client's layout."""
    header = header or ['From: %s<setup@doduza.example>' % encoded_word('ホテル表参道ソ能'),
                        'To: register@ruviva.example', 'Subject: ' + encoded_word('ユーザー登録完了メール'),
                        'Mime-Version: 1.0', 'Content-Type: text/plain; charset="ISO-2022-JP"']
    body = b''.join(line.encode('iso2022_jp') + b'\r\n' for line in lines)
    return ('\r\n'.join(header) + '\r\n\r\n\r\n').encode('ascii') + body


class RegistrationMails(unittest.TestCase):
    """The registration check, through CHECK and on the command line, on a mail made here."""

    @classmethod
    def setUpClass(cls):
        cls.control = Control()
        cls.tmp = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.control.close()
        cls.tmp.cleanup()

    def test_a_fixed_port_is_listened_on_until_closed(self):
        with socket.socket() as probe:
            probe.bind((HOST, 0))
            port = probe.getsockname()[1]
        ident, got = self.control.listen(port=port)
        self.assertEqual(got, port)
        with smtplib.SMTP(HOST, port, timeout=10) as s:
            s.helo('doduza.example')
            s.sendmail('setup@doduza.example', ['register@ruviva.example'], registration_mail())
        self.assertEqual(self.control.check(listener=ident, registration=REGISTRATION), 'OK')
        hex_form = dict(REGISTRATION, lines=['hex:' + x.encode('cp932').hex() for x in REGISTRATION_LINES])
        self.assertEqual(self.control.check(listener=ident, registration=hex_form), 'OK')
        self.assertEqual(self.control.request('CLOSE %d' % ident)[0], 'OK')
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection((HOST, port), timeout=5).close()

    def test_command_line_and_the_lines_a_delivering_server_adds(self):
        import mail_check
        expected = Path(self.tmp.name) / 'expected.json'
        expected.write_text(json.dumps(REGISTRATION), encoding='utf-8')
        delivered = (b'Return-Path: <setup@doduza.example>\nReceived: from doduza.example\n\tby mx;\n' +
                     registration_mail().replace(b'\r\n\r\n\r\n', b'\r\nDate: x\r\nMessage-ID: <y@z>\r\n\r\n\r\n')
                     .replace(b'\r\n', b'\n'))
        mail = Path(self.tmp.name) / 'delivered.eml'
        mail.write_bytes(delivered)
        self.assertEqual(mail_check.main(['', str(mail), '--registration', str(expected), '--mta']), 0)
        self.assertEqual(mail_check.main(['', str(mail), '--registration', str(expected)]), 1)

    def test_faults_are_reported(self):
        import mail_check
        header = registration_mail().split(b'\r\n\r\n')[0].decode('ascii').split('\r\n')
        lines = list(REGISTRATION_LINES)
        cases = [
            ('header lines', registration_mail(header=[header[1], header[0]] + header[2:])),
            ('header lines', registration_mail(header=header + ['Date: x'])),
            ('Content-Type', registration_mail(header=header[:4] + ['Content-Type: text/plain; charset=ISO-2022-JP'])),
            ('From', registration_mail().replace(b'?=<', b'?= <')),
            ('not one ISO-2022-JP encoded-word',
             registration_mail().replace(encoded_word('ホテル表参道ソ能').encode(), b'=?utf-8?B?5pel?=')),
            ('the Subject decodes to', registration_mail(header=header[:2] + ['Subject: ' + encoded_word('件名')] + header[3:])),
            ('does not end in ASCII', registration_mail().replace(b'\x1b(B\r\n', b'\r\n', 1)),
            ('8-bit', registration_mail().replace(b'e-mail = a@b.c', b'e-mail = a@b.c\xb5')),  # half-width katakana
            ('empty line and 15 lines', registration_mail(lines=lines[:14])),
            ('body line 15 is', registration_mail(lines=lines[:14] + ['年齢 =２０代'])),
        ]
        self.assertIsNone(mail_check.check_registration(registration_mail(), REGISTRATION))
        for want, mail in cases:
            with self.subTest(want):
                self.assertIn(want, mail_check.check_registration(mail, REGISTRATION) or 'None')


if __name__ == '__main__':
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    unittest.main(verbosity=2)
