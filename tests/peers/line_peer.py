"""Accepts one connection and plays a script of steps given as arguments, in order:

  bytes:TEXT   sends TEXT one byte at a time, --pause milliseconds apart
  chunk:TEXT   sends TEXT with one call
  sleep:MS     waits MS milliseconds
  go           waits for a line "go" on stdin
  readline     reads up to a line feed and prints "line <text>"
  close        closes gracefully
  reset        resets the connection (RST)

TEXT takes backslash escapes (\\r, \\n, \\x41...). "x*300" repeats: chunk:x*300.
Prints "accepted", "step <n>" after each step, then "done". Without close or reset
at the end the connection is held until the other side closes or --timeout.
"""

import codecs
import socket
import struct
import time

import peerlib


def text(arg):
    if "*" in arg and arg.rsplit("*", 1)[1].isdigit():
        body, count = arg.rsplit("*", 1)
        return text(body) * int(count)
    return codecs.decode(arg, "unicode_escape").encode("latin-1")


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        b = conn.recv(1)
        if not b:
            break
        data += b
    return data.rstrip(b"\r\n").decode("latin-1")


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--pause", type=float, default=5.0, help="milliseconds between bytes")
    p.add_argument("steps", nargs="*")
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port)
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    ended = False
    for n, step in enumerate(args.steps, 1):
        kind, _, arg = step.partition(":")
        if kind == "bytes":
            for b in text(arg):
                conn.sendall(bytes([b]))
                time.sleep(args.pause / 1000.0)
        elif kind == "chunk":
            conn.sendall(text(arg))
        elif kind == "sleep":
            time.sleep(float(arg) / 1000.0)
        elif kind == "go":
            peerlib.wait_for_line("go")
        elif kind == "readline":
            peerlib.say("line", read_line(conn))
        elif kind == "close":
            conn.close()
            ended = True
        elif kind == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            ended = True
        else:
            raise SystemExit("unknown step " + step)
        peerlib.say("step", n)
    peerlib.say("done")
    if not ended:
        # Held until the other side closes.
        try:
            while conn.recv(65536):
                pass
        except OSError:
            pass
        conn.close()


if __name__ == "__main__":
    main()
