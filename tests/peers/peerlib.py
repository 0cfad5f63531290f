"""Shared pieces of the peer scripts that the socket tests run as child processes.

Every script listens (or binds) on 127.0.0.1 with the port given (0: the system
chooses), prints "port <n>" as its first line, reports what it saw as further lines
on stdout, and ends by itself after --timeout seconds whatever happens.
"""

import argparse
import random
import signal
import socket
import sys
import time
import zlib


def parser(description):
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--timeout", type=float, default=30.0,
                   help="seconds after which the script ends whatever its state")
    return p


def start(args):
    # SIGALRM's default action ends the process: the bound on every script's life.
    signal.alarm(max(1, int(args.timeout + 0.999)))


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


def listen_tcp(port, rcvbuf=0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if rcvbuf:
        # Set before listen so that accepted sockets start with the small window.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.bind(("127.0.0.1", port))
    s.listen(8)
    say("port", s.getsockname()[1])
    return s


def accept_one(port, rcvbuf=0):
    """Listens, takes the first connection, stops listening and says "accepted"."""
    srv = listen_tcp(port, rcvbuf)
    conn, _ = srv.accept()
    srv.close()
    say("accepted")
    return conn


def payload(n, seed):
    return random.Random(seed).randbytes(n)


def crc_hex(data_crc):
    return "%08x" % (data_crc & 0xFFFFFFFF)


def data_crc_hex(data):
    return crc_hex(zlib.crc32(data))


def read_to_eof(conn, limit=None, chunk=65536, pause_ms=0.0):
    """Reads until the peer ends its sending (or `limit` bytes), at most `chunk` bytes a
    call with a pause of `pause_ms` after each. Returns (count, crc, how) where how is
    "eof", "limit" or "reset"."""
    count, crc = 0, 0
    while limit is None or count < limit:
        want = chunk if limit is None else min(chunk, limit - count)
        try:
            data = conn.recv(want)
        except ConnectionResetError:
            return count, crc, "reset"
        if not data:
            return count, crc, "eof"
        count += len(data)
        crc = zlib.crc32(data, crc)
        if pause_ms:
            time.sleep(pause_ms / 1000.0)
    return count, crc, "limit"


def wait_for_line(expected):
    """Blocks until stdin yields the expected line (or ends)."""
    for line in sys.stdin:
        if line.strip() == expected:
            return True
    return False
