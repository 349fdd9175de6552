#!/usr/bin/env python3
"""Checks a mail as the SMTP client sent it, with Python's email package.

usage: mail_check.py MAIL [--raw RAW | --stuffed] [--encoding base64|x-uuencode]
                     [--attachment NAME=FILE]... [--body-file FILE]
       mail_check.py MAIL --registration JSON [--mta]

MAIL is the mail as the server stored it (dot-stuffing undone); RAW, when given, the data as it
went over the wire. With --stuffed, MAIL itself is the data as it goes over the wire (header
text and body stream as the client writes them) and is both checked as such and unstuffed.
With attachments the mail must be multipart/mixed with the client's 35-character boundary, a
text/plain first part and one part per attachment, in order, named NAME, whose content
decodes with the email package (get_payload(decode=True)), and again strictly with binascii
(Base64 lines of one length; uuencode between "begin 644 NAME" and "end"), to exactly the bytes
of FILE. --body-file compares the text (first) part, or the whole body of a mail without
attachments, as the email package gives it. FILE may be given as a Windows path on drive Z: (how
a program under Wine sees the host's "/").

--registration checks a registration mail against the JSON file's expectations (see
check_registration); --mta allows the header lines a delivering server adds (trace lines,
Date, Message-ID).

Prints "OK" and exits 0, or prints what is wrong and exits 1. check_mail() and
check_registration() are the same checks for callers in Python (the SMTP peer's CHECK request).
"""
import argparse
import binascii
import email
import email.header
import email.policy
import email.utils
import json
import re
import sys

BOUNDARY = re.compile(r'={20}54535[a-y]{6}={4}')


def host_path(path: str) -> str:
    if re.match(r'^[Zz]:[\\/]', path):
        return '/' + path[3:].replace('\\', '/')
    return path


def wire_problem(raw: bytes):
    """The data of a mail on the wire: lines end in CR LF, and no CR or LF stands alone."""
    lone = re.search(rb'\r(?!\n)|(?<!\r)\n', raw)
    if lone:
        return 'bare %s in the data at byte %d' % ('CR' if lone.group() == b'\r' else 'LF', lone.start())
    if raw and not raw.endswith(b'\r\n'):
        return 'the data does not end with CR LF'
    return None


def decode_uu_strict(text: str, name: str) -> bytes:
    """The client's uuencode framing, line by line with binascii: "begin 644 NAME", the data
    lines, the "`" line, "end" and nothing after."""
    lines = text.split('\r\n') if '\r\n' in text else text.split('\n')
    while lines and not lines[-1]:
        lines.pop()
    if not lines or lines[0] != 'begin 644 ' + name:
        raise ValueError('no "begin 644 %s" line first: %r' % (name, lines[0][:40] if lines else ''))
    if lines[-2:] != ['`', 'end']:
        raise ValueError('the data does not end with a "`" line and an "end" line: %r' % lines[-2:])
    if '' in lines:
        raise ValueError('an empty line in the data')
    return b''.join(binascii.a2b_uu(line) for line in lines[1:-2])


def decode_base64_strict(text: str) -> bytes:
    lines = [x for x in text.replace('\r\n', '\n').split('\n') if x]
    for line in lines[:-1]:
        if len(line) != len(lines[0]) or len(line) % 4 or len(line) > 76:
            raise ValueError('a Base64 line of %d characters before the last line' % len(line))
    return binascii.a2b_base64(''.join(lines), strict_mode=True)


def payload_bytes(part) -> bytes:
    return part.get_payload(decode=True) or b''


def check_mail(eml: bytes, raw=None, attachments=None, encoding='base64', body=None):
    """None when the mail is right, else what is wrong. attachments: [{"name", "file"}];
    body: the expected text (bytes, or str taken as latin-1)."""
    if raw is not None:
        problem = wire_problem(raw)
        if problem:
            return problem
    msg = email.message_from_bytes(eml, policy=email.policy.compat32)
    if msg.defects:
        return 'the mail has defects: %s' % msg.defects
    if isinstance(body, str):
        body = body.encode('latin-1')
    if not attachments:
        if msg.is_multipart():
            return 'a mail without attachments is multipart'
        if body is not None and payload_bytes(msg) != body:
            return 'the body differs: %r' % payload_bytes(msg)[:80]
        return None
    if msg.get_content_type() != 'multipart/mixed':
        return 'Content-Type is %s, not multipart/mixed' % msg.get_content_type()
    boundary = msg.get_boundary() or ''
    if len(boundary) != 35 or not BOUNDARY.fullmatch(boundary):
        return 'unexpected boundary %r' % boundary
    parts = msg.get_payload()
    if len(parts) != len(attachments) + 1:
        return '%d parts, expected %d' % (len(parts), len(attachments) + 1)
    text = parts[0]
    if text.get_content_type() != 'text/plain':
        return 'the first part is %s' % text.get_content_type()
    if body is not None and payload_bytes(text) != body:
        return 'the text part differs: %r' % payload_bytes(text)[:80]
    for n, (part, want) in enumerate(zip(parts[1:], attachments), 1):
        label = 'attachment %d (%s)' % (n, want['name'])
        if part.defects:
            return '%s has defects: %s' % (label, part.defects)
        if part.get_content_type() != 'application/octet-stream':
            return '%s is %s' % (label, part.get_content_type())
        if part.get_param('name') != want['name'] or part.get_filename() != want['name']:
            return '%s is named %r / %r' % (label, part.get_param('name'), part.get_filename())
        cte = (part.get('Content-Transfer-Encoding') or '').lower()
        if cte != encoding:
            return '%s has the transfer encoding %r, expected %r' % (label, cte, encoding)
        with open(host_path(want['file']), 'rb') as f:
            expected = f.read()
        decoded = payload_bytes(part)
        try:
            if encoding == 'base64':
                strict = decode_base64_strict(part.get_payload())
            else:
                strict = decode_uu_strict(part.get_payload(), want['name'])
        except (ValueError, binascii.Error) as error:
            return '%s does not decode: %s' % (label, error)
        if strict != decoded:
            return '%s: strict decoding differs from the email package' % label
        if decoded != expected:
            at = next((i for i, (a, b) in enumerate(zip(decoded, expected)) if a != b),
                      min(len(decoded), len(expected)))
            return '%s differs from %s at byte %d (%d bytes, expected %d)' % (
                label, want['file'], at, len(decoded), len(expected))
    return None


REGISTRATION_HEADERS = ['From', 'To', 'Subject', 'Mime-Version', 'Content-Type']
REGISTRATION_TYPE = 'text/plain; charset="ISO-2022-JP"'
MTA_HEADERS = {'return-path', 'delivered-to', 'received', 'date', 'message-id'}
ENCODED_WORD = re.compile(r'=\?iso-2022-jp\?B\?[A-Za-z0-9+/]*=*\?=')
JIS_ESCAPE = re.compile(rb'\x1b(?:\$[@B]|\([BJ])')


def sjis(text: str) -> bytes:
    """An expected text as Shift_JIS bytes (code page 932): "hex:" and the bytes in hex, as a
    program hands its own bytes over, or text, encoded here."""
    return bytes.fromhex(text[4:]) if text.startswith('hex:') else text.encode('cp932')


def jis_text(data: bytes, what: str):
    """ISO-2022-JP bytes as Shift_JIS bytes, or raises ValueError saying what is wrong."""
    if any(b >= 0x80 for b in data):
        raise ValueError('%s holds 8-bit bytes: %r' % (what, data[:60]))
    escapes = JIS_ESCAPE.findall(data)
    if escapes and escapes[-1] != b'\x1b(B':
        raise ValueError('%s does not end in ASCII: %r' % (what, data[-20:]))
    try:
        return data.decode('iso2022_jp').encode('cp932')
    except UnicodeError as error:
        raise ValueError('%s does not decode from ISO-2022-JP: %s' % (what, error))


def decode_word(value: str, what: str) -> bytes:
    """One encoded-word, whole, decoded by the email package to Shift_JIS bytes."""
    if not ENCODED_WORD.fullmatch(value):
        raise ValueError('%s is not one ISO-2022-JP encoded-word: %r' % (what, value))
    parts = email.header.decode_header(value)
    if len(parts) != 1 or parts[0][1] != 'iso-2022-jp':
        raise ValueError('%s decodes to %r' % (what, parts))
    return jis_text(parts[0][0], what)


def check_registration(eml: bytes, expected: dict, mta=False):
    """None when eml is the registration mail expected, else what is wrong. expected:
    {"sender", "registration": mailboxes; "from_name", "subject": texts; "lines": the 15 body
    lines}; texts as sjis() takes them. The header is exactly From, To, Subject, Mime-Version,
    Content-Type (with mta, lines a delivering server adds are left out first); the body is an
    empty line and the 15 lines, each ISO-2022-JP on its own."""
    msg = email.message_from_bytes(eml, policy=email.policy.compat32)
    if msg.defects:
        return 'the mail has defects: %s' % msg.defects
    names = [k for k in msg.keys() if not (mta and k.lower() in MTA_HEADERS)]
    if names != REGISTRATION_HEADERS:
        return 'header lines %s, expected %s' % (names, REGISTRATION_HEADERS)
    if msg['Content-Type'] != REGISTRATION_TYPE or msg.get_content_charset() != 'iso-2022-jp':
        return 'Content-Type %r' % msg['Content-Type']
    if msg['Mime-Version'] != '1.0' or msg['To'] != expected['registration']:
        return 'Mime-Version %r, To %r' % (msg['Mime-Version'], msg['To'])
    name, address = email.utils.parseaddr(msg['From'])
    if address != expected['sender'] or msg['From'] != '%s<%s>' % (name, address):
        return 'From %r: name %r, address %r' % (msg['From'], name, address)
    try:
        if decode_word(name, 'the From name') != sjis(expected['from_name']):
            return 'the From name decodes to %r' % decode_word(name, '').decode('cp932')
        if decode_word(msg['Subject'], 'the Subject') != sjis(expected['subject']):
            return 'the Subject decodes to %r' % decode_word(msg['Subject'], '').decode('cp932')
        lines = re.split(rb'\r?\n', payload_bytes(msg))
        if len(lines) != 17 or lines[0] != b'' or lines[-1] != b'':
            return 'the body is not an empty line and 15 lines: %r' % lines[:20]
        for n, (got, want) in enumerate(zip(lines[1:16], expected['lines']), 1):
            text = jis_text(got, 'body line %d' % n)
            if text != sjis(want):
                return 'body line %d is %r, expected %r' % (n, text.decode('cp932', 'replace'),
                                                           sjis(want).decode('cp932', 'replace'))
    except ValueError as error:
        return str(error)
    return None


def main(argv):
    parser = argparse.ArgumentParser(description='Checks a mail sent by the SMTP client.')
    parser.add_argument('eml')
    parser.add_argument('--raw')
    parser.add_argument('--stuffed', action='store_true')
    parser.add_argument('--encoding', default='base64', choices=('base64', 'x-uuencode'))
    parser.add_argument('--attachment', action='append', default=[], metavar='NAME=FILE')
    parser.add_argument('--body-file')
    parser.add_argument('--registration', metavar='JSON')
    parser.add_argument('--mta', action='store_true')
    args = parser.parse_args(argv[1:])
    with open(args.eml, 'rb') as f:
        eml = f.read()
    if args.registration:
        with open(args.registration, encoding='utf-8') as f:
            problem = check_registration(eml, json.load(f), mta=args.mta)
        print(problem or 'OK')
        return 1 if problem else 0
    raw = None
    if args.raw:
        with open(args.raw, 'rb') as f:
            raw = f.read()
    if args.stuffed:
        raw, eml = eml, re.sub(rb'(^|\r\n)\.', rb'\1', eml)
    body = None
    if args.body_file:
        with open(args.body_file, 'rb') as f:
            body = f.read()
    attachments = [dict(zip(('name', 'file'), a.split('=', 1))) for a in args.attachment]
    problem = check_mail(eml, raw=raw, attachments=attachments, encoding=args.encoding, body=body)
    print(problem or 'OK')
    return 1 if problem else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
