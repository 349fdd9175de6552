"""Starting and stopping the test peers (smtp_peer.py, tls_peer.py) as background processes.

A peer started in STATE_DIR writes STATE_DIR/peer.ports ("key value" lines: its ports, "control
<port>", "pid <pid>") once it listens; it is stopped by a SHUTDOWN on its control port, else by
signals, and only when the process of that pid is still that peer serving that folder.
"""
import os
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path


def read_ports(state_dir: Path):
    try:
        text = (state_dir / 'peer.ports').read_text()
    except OSError:
        return None
    return dict(line.split(' ', 1) for line in text.splitlines() if ' ' in line)


def is_our_peer(pid: int, state_dir: Path, script: Path) -> bool:
    try:
        args = Path('/proc/%d/cmdline' % pid).read_bytes().split(b'\0')
    except OSError:
        return False
    return (any(a.endswith(script.name.encode()) for a in args) and b'serve' in args
            and str(state_dir).encode() in args)


def stop_peer(state_dir: Path, script: Path) -> bool:
    """Stops the peer of STATE_DIR; False when none ran there."""
    ports = read_ports(state_dir)
    if not ports:
        return False
    pid = int(ports.get('pid', '0'))
    if not is_our_peer(pid, state_dir, script):
        (state_dir / 'peer.ports').unlink(missing_ok=True)
        return False
    try:
        with socket.create_connection(('127.0.0.1', int(ports['control'])), timeout=5) as s:
            s.sendall(b'SHUTDOWN\n')
            s.recv(100)
    except OSError:
        os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while is_our_peer(pid, state_dir, script) and time.monotonic() < deadline:
        time.sleep(0.05)
    if is_our_peer(pid, state_dir, script):
        os.kill(pid, signal.SIGKILL)
    (state_dir / 'peer.ports').unlink(missing_ok=True)
    return True


def start_peer(state_dir: Path, script: Path, args, quiet=False) -> int:
    """Runs "SCRIPT serve STATE_DIR ARGS..." in the background until it listens; 0 then."""
    state_dir.mkdir(parents=True, exist_ok=True)
    stop_peer(state_dir, script)
    with open(state_dir / 'peer.log', 'ab') as log:
        # The peer holds none of the caller's pipes, so a test runner waiting for this command's
        # output does not wait for the peer too.
        proc = subprocess.Popen([sys.executable, str(script), 'serve', str(state_dir)] + [str(a) for a in args],
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log, close_fds=True,
                                start_new_session=True)
    deadline = time.monotonic() + 20
    while read_ports(state_dir) is None:
        if proc.poll() is not None or time.monotonic() > deadline:
            proc.kill()
            sys.stderr.write('%s did not start listening; see %s\n' % (script.name, state_dir / 'peer.log'))
            return 1
        time.sleep(0.05)
    if not quiet:
        print((state_dir / 'peer.ports').read_text(), end='')
    return 0
