#!/usr/bin/env python3
"""Checks a mail as the SMTP client sent it, with Python's email package.

usage: mail_check.py MAIL [--raw RAW | --stuffed] [--encoding base64|x-uuencode]
                     [--attachment NAME=FILE]... [--body-file FILE]

MAIL is the mail as the server stored it (dot-stuffing undone); RAW, when given, the data as it
went over the wire. With --stuffed, MAIL itself is the data as it goes over the wire (header
text and body stream as the client writes them) and is both checked as such and unstuffed.
With attachments the mail must be multipart/mixed with the client's 35-character boundary, a
text/plain first part and one part per attachment, in order, named NAME, whose content
decodes (Base64 with the email package and strictly with binascii; uuencode line by line with
binascii) to exactly the bytes of FILE. --body-file compares the text (first) part, or the
whole body of a mail without attachments, as the email package gives it. FILE may be given as
a Windows path on drive Z: (how a program under Wine sees the host's "/").

Prints "OK" and exits 0, or prints what is wrong and exits 1. check_mail() is the same check
for callers in Python (the SMTP peer's CHECK request).
"""
import argparse
import binascii
import email
import email.policy
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


def decode_uu(text: str) -> bytes:
    out = []
    lines = text.split('\r\n') if '\r\n' in text else text.split('\n')
    for n, line in enumerate(lines):
        if line == '`':
            rest = [x for x in lines[n + 1:] if x]
            if rest:
                raise ValueError('text after the terminating line: %r' % rest[0][:40])
            return b''.join(out)
        if line:
            out.append(binascii.a2b_uu(line))
    raise ValueError('no terminating "`" line')


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
        try:
            if encoding == 'base64':
                decoded = payload_bytes(part)
                if decode_base64_strict(part.get_payload()) != decoded:
                    return '%s: strict Base64 decoding differs from the email package' % label
            else:
                decoded = decode_uu(part.get_payload())
        except (ValueError, binascii.Error) as error:
            return '%s does not decode: %s' % (label, error)
        if decoded != expected:
            at = next((i for i, (a, b) in enumerate(zip(decoded, expected)) if a != b),
                      min(len(decoded), len(expected)))
            return '%s differs from %s at byte %d (%d bytes, expected %d)' % (
                label, want['file'], at, len(decoded), len(expected))
    return None


def main(argv):
    parser = argparse.ArgumentParser(description='Checks a mail sent by the SMTP client.')
    parser.add_argument('eml')
    parser.add_argument('--raw')
    parser.add_argument('--stuffed', action='store_true')
    parser.add_argument('--encoding', default='base64', choices=('base64', 'x-uuencode'))
    parser.add_argument('--attachment', action='append', default=[], metavar='NAME=FILE')
    parser.add_argument('--body-file')
    args = parser.parse_args(argv[1:])
    with open(args.eml, 'rb') as f:
        eml = f.read()
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
