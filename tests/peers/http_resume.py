"""An HTTP server of one file that breaks its connections part-way, for downloads that must
resume. It serves --file (and --other, "the file after an update") under any path but
/page, which answers what --page holds at the time. The query says how each request of a download goes; requests
are counted by the query's id, so every download has its own count:

  cuts=30,60,90  the first request is cut when 30% of the file has been sent, the second
                 at 60%, the third at 90%; later requests are answered whole
  how=close      a cut closes the connection (by default it resets it)
  norange=1      "Range" is ignored: every answer is the whole file with 200
  change=1       from the second request on the file is --other (another ETag and date),
                 so an "If-Range" with the first one's validator gets the whole new file
  badtotal=1     a range is answered with 206 and a Content-Range naming one byte more
  etag=0         no ETag, only Last-Modified

A range is honoured only as "bytes=N-" and only with an "If-Range" that matches the
current file's ETag or Last-Modified. Each request is reported as
"request <id> <range or -> <if-range or ->", and each answer as
"sent <id> <status> <body bytes sent> <header bytes sent>".
"""

import fcntl
import socket
import struct
import termios
import threading
import time
import urllib.parse

import http_odd
import peerlib

LOCK = threading.Lock()
COUNTS = {}
FILES = {}


def header_value(raw, name):
    value = http_odd.header_value(raw, name)
    return value.decode("latin-1") if value is not None else None


def validators(version):
    data = FILES[version]
    etag = '"%s-%d"' % (version, len(data))
    date = "Tue, 01 Dec 2026 10:0%d:00 GMT" % (0 if version == "file" else 5)
    return etag, date


def cut_connection(conn, how):
    # What was sent has reached the client before the cut, as on a line that breaks
    # later rather than at once: a reset would otherwise throw away the bytes in flight.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        unsent = fcntl.ioctl(conn.fileno(), termios.TIOCOUTQ, b"\0" * 4)
        if struct.unpack("i", unsent)[0] == 0:
            break
        time.sleep(0.005)
    time.sleep(0.05)
    if how == "reset":
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def answer(conn, raw):
    target = raw.split(b"\r\n", 1)[0].split(b" ")[1].decode("latin-1")
    parts = urllib.parse.urlsplit(target)
    q = {k: v[0] for k, v in urllib.parse.parse_qs(parts.query).items()}
    if parts.path == "/page":
        with open(FILES["page"], "rb") as f:
            page = f.read()
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(page) + page)
        return
    ident = q.get("id", "-")
    with LOCK:
        n = COUNTS.get(ident, 0)
        COUNTS[ident] = n + 1
    rng, if_range = header_value(raw, b"range"), header_value(raw, b"if-range")
    peerlib.say("request", ident, (rng or "-").replace(" ", ""), (if_range or "-").replace(" ", ""))
    version = "other" if q.get("change") == "1" and n > 0 else "file"
    data = FILES[version]
    etag, date = validators(version)
    start = 0
    if (rng and rng.startswith("bytes=") and rng.endswith("-") and rng[6:-1].isdigit()
            and q.get("norange") != "1" and if_range in (etag, date)):
        start = int(rng[6:-1])
    head = "Last-Modified: %s\r\n" % date
    if q.get("etag") != "0":
        head += "ETag: %s\r\n" % etag
    if start > 0:
        total = len(data) + (1 if q.get("badtotal") == "1" else 0)
        status = "206 Partial Content"
        head += "Content-Range: bytes %d-%d/%d\r\n" % (start, len(data) - 1, total)
    else:
        status = "200 OK"
    head += "Content-Length: %d\r\n" % (len(data) - start)
    header = ("HTTP/1.1 %s\r\n%s\r\n" % (status, head)).encode("latin-1")
    conn.sendall(header)
    cuts = [int(c) for c in q.get("cuts", "").split(",") if c]
    end = len(data)
    if n < len(cuts):
        end = max(start, min(end, len(data) * cuts[n] // 100))
    view = memoryview(data)
    sent = 0
    try:
        while start + sent < end:
            sent += conn.send(view[start + sent:min(end, start + sent + (1 << 20))])
    finally:
        peerlib.say("sent", ident, status.split(" ")[0], sent, len(header))
    if end < len(data):
        cut_connection(conn, q.get("how", "reset"))


def serve(conn):
    try:
        raw = http_odd.read_header(conn)
        if raw is not None:
            answer(conn, raw)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--file", required=True)
    p.add_argument("--other", required=True)
    p.add_argument("--page", default=None)
    args = p.parse_args()
    peerlib.start(args)
    for name, path in (("file", args.file), ("other", args.other)):
        with open(path, "rb") as f:
            FILES[name] = f.read()
    FILES["page"] = args.page or "/dev/null"
    srv = peerlib.listen_tcp(args.port)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
