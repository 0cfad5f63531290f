#!/usr/bin/env python3
"""Clients that a browser would not be: raw requests, a silent one and an endless one.

  clients.py raw PORT REQUEST      send REQUEST (\\r \\n escapes allowed), print the reply
  clients.py silent PORT SECONDS   connect, send nothing; print the seconds until the
                                   server closed, or "open" when it had not by then
  clients.py flood PORT LIMIT      send a request line that never ends; print the bytes
                                   the server took before it answered or closed, and the
                                   first line of its answer (at most LIMIT bytes are sent)
"""
import socket
import sys
import time


def connect(port):
    s = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
    return s


def raw(port, request):
    s = connect(port)
    s.sendall(request.encode().decode("unicode_escape").encode("latin-1"))
    reply = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        reply += chunk
    sys.stdout.buffer.write(reply)


def silent(port, seconds):
    s = connect(port)
    s.settimeout(float(seconds))
    start = time.monotonic()
    try:
        while s.recv(4096):
            pass
        print("%.1f" % (time.monotonic() - start))
    except socket.timeout:
        print("open")
    except ConnectionResetError:
        print("%.1f" % (time.monotonic() - start))


def flood(port, limit):
    s = connect(port)
    s.settimeout(0.2)
    sent = 0
    piece = b"GET /" + b"a" * 4091
    reply = b""
    deadline = time.monotonic() + 20
    while sent < int(limit) and time.monotonic() < deadline:
        try:
            sent += s.send(piece)
        except (BrokenPipeError, ConnectionResetError):
            break
        except socket.timeout:
            pass
        try:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
        except socket.timeout:
            pass
        except ConnectionResetError:
            break
    print(sent, reply.split(b"\r\n", 1)[0].decode("latin-1") or "-")


if __name__ == "__main__":
    {"raw": raw, "silent": silent, "flood": flood}[sys.argv[1]](*sys.argv[2:])
