"""An HTTP server for the replies a well-behaved server never gives. Each connection
reads one request header and answers according to the path (the query is ignored
unless said otherwise):

  /request      200, the body is the request header exactly as it came
  /noheader     a reply without header, starting "<HTML>"
  /lf           a header whose lines end in a lone line feed
  /nul          a zero byte inside a header line, then the connection is closed
  /longline     a 9000-byte header line, then the connection is held open
  /cut          a status line and one header line, then the connection is closed
  /empty        the connection is closed without a byte
  /short        "content-length: 1000", 400 body bytes, then the connection is closed
  /badstatus    a status line whose code is not a number; held open
  /badlength    a "content-length" that is not a number; held open
  /relocate?to=X  302 with "location: X" (X is %-decoded, "{port}" becomes the port)
  /loop         302 with "location: /loop"
  /show-auth    200, the body is the "authorization" value or "none"
  /stall        nothing at all; the connection is held open
  /stall-body   a header announcing 100000 bytes and 10 of them; held open
  /drip         the whole reply (1000 body bytes announced) one byte every 0.2 s
  /nolength     200 without a length: 300000 bytes in 50 pieces, then the connection closes
  /noreason     a status line without a reason phrase
  /hugelength   a "content-length" of 19 digits, beyond any 64-bit length; held open
  /longer       "content-length: 1000" and 200000 body bytes; held open
  /bare         200 without length or type, "abc", then the connection closes
  /relocate-typed?to=X  as /relocate, with a type and a 20-byte body of its own
  /error-body   404 with an HTML body, all in one piece; held open
  /reset-body   200 without a length, 100000 bytes, then a reset
  /chunked      a chunked body of 26 + 5 + 100000 bytes (an extension, a trailer), sent
                in small pieces; held open after the last chunk
  /chunked-cut  a chunked body closed inside its second chunk
  /chunked-huge a chunk size of 20 hexadecimal digits; held open
  /gzip         "transfer-encoding: gzip, chunked"; held open
  /post-relocate?to=X  302 to X, after reading the request's body
  /post-echo    200, the body is the request's body

As a proxy asked to CONNECT to NAME:PORT, it answers by NAME:
  tunnel-extra  200, then bytes that no server could have sent before the client's hello
  tunnel-bad    a status line that is no status line
  tunnel-close  the connection is closed without a reply
  tunnel-302    302 with a location, as if the tunnel were a page

A request body (by its "content-length") is read before the answer.
"""

import socket
import struct
import threading
import time
import urllib.parse

import peerlib

HOLD_SECONDS = 60


def read_header(conn):
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data


def header_value(raw, name):
    for line in raw.split(b"\r\n")[1:]:
        key, sep, value = line.partition(b":")
        if sep and key.strip().lower() == name:
            return value.strip()
    return None


def read_body(conn, raw):
    """The request body announced by the header, read to its length (bounded)."""
    end = raw.find(b"\r\n\r\n")
    body = raw[end + 4:] if end >= 0 else b""
    length = header_value(raw, b"content-length")
    want = min(int(length), 1 << 24) if length and length.isdigit() else 0
    while len(body) < want:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return body[:want]


def chunk(data, ext=b""):
    return b"%x%s\r\n%s\r\n" % (len(data), ext, data)


def answer_connect(conn, target):
    name = target.rsplit(":", 1)[0]
    if name == "tunnel-extra":
        conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\nHTTP/1.0 200 OK\r\n\r\nfake")
    elif name == "tunnel-bad":
        conn.sendall(b"200 yes\r\n\r\n")
    elif name == "tunnel-302":
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: http://elsewhere/\r\n\r\n")
    if name == "tunnel-close":
        return
    # Held until the client closes: its verdict must come from the reply alone.
    conn.settimeout(HOLD_SECONDS)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def answer(conn, raw, port):
    body = read_body(conn, raw)
    target = raw.split(b"\r\n", 1)[0].split(b" ")[1].decode("latin-1")
    if raw.startswith(b"CONNECT "):
        return answer_connect(conn, target)
    parts = urllib.parse.urlsplit(target)
    path, query = parts.path, urllib.parse.parse_qs(parts.query)
    hold = False
    if path == "/request":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
                     % len(raw) + raw)
    elif path == "/noheader":
        conn.sendall(b"<HTML>\r\n<body>first</body>\r\n</HTML>\r\n")
    elif path == "/lf":
        conn.sendall(b"HTTP/1.0 200 OK\nContent-Type: text/plain\nContent-Length: 5\n\nhello")
    elif path == "/nul":
        conn.sendall(b"HTTP/1.0 200 OK\r\nX-Bad: a\0b\r\nContent-Length: 2\r\n\r\nok")
    elif path == "/longline":
        conn.sendall(b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * 9000 + b"\r\n\r\nok")
        hold = True
    elif path == "/cut":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n")
    elif path == "/empty":
        pass
    elif path == "/short":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"x" * 400)
    elif path == "/badstatus":
        conn.sendall(b"HTTP/1.0 2x0 OK\r\nContent-Length: 2\r\n\r\nok")
        hold = True
    elif path == "/badlength":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\nok")
        hold = True
    elif path == "/relocate":
        to = query.get("to", ["/"])[0].replace("{port}", str(port)).encode("latin-1")
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: " + to + b"\r\nContent-Length: 0\r\n\r\n")
    elif path == "/loop":
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n")
    elif path == "/show-auth":
        value = header_value(raw, b"authorization") or b"none"
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(value) + value)
    elif path == "/stall":
        hold = True
    elif path == "/stall-body":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"y" * 10)
        hold = True
    elif path == "/drip":
        reply = b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"d" * 1000
        deadline = time.monotonic() + HOLD_SECONDS
        for i in range(len(reply)):
            if time.monotonic() > deadline:
                break
            conn.sendall(reply[i:i + 1])
            time.sleep(0.2)
    elif path == "/nolength":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n")
        for _ in range(50):
            conn.sendall(b"n" * 6000)
    elif path == "/noreason":
        conn.sendall(b"HTTP/1.0 200\r\nContent-Length: 2\r\n\r\nok")
    elif path == "/hugelength":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 9999999999999999999\r\n\r\nok")
        hold = True
    elif path == "/longer":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"L" * 200000)
        hold = True
    elif path == "/bare":
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nabc")
    elif path == "/relocate-typed":
        to = query.get("to", ["/"])[0].replace("{port}", str(port)).encode("latin-1")
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: " + to + b"\r\nContent-Type: text/html"
                     b"\r\nContent-Length: 20\r\n\r\n" + b"r" * 20)
    elif path == "/error-body":
        conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n"
                     b"<html><body>no such page</body></html>\r\n")
        hold = True
    elif path == "/reset-body":
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + b"R" * 100000)
        # Time for the client to read it all; then RST instead of FIN.
        time.sleep(0.5)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    elif path == "/chunked":
        pieces = [b"HTTP/1.1 200 OK\r\nContent-Length: 7\r\nTransfer-Encoding: chunked\r\n\r\n",
                  chunk(b"abcdefghijklmnopqrstuvwxyz", b";name=value"), chunk(b"12345"),
                  chunk(b"c" * 100000), b"0\r\nX-Trailer: dropped\r\n\r\n"]
        data = b"".join(pieces)
        for at in range(0, 196, 7):
            conn.sendall(data[at:at + 7])
            time.sleep(0.002)
        conn.sendall(data[196:])
        hold = True
    elif path == "/chunked-cut":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(b"abc")
                     + b"10\r\n12345")
    elif path == "/chunked-huge":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     b"FFFFFFFFFFFFFFFFFFFF\r\nabc")
        hold = True
    elif path == "/gzip":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                     + chunk(b"\x1f\x8b") + b"0\r\n\r\n")
        hold = True
    elif path == "/post-relocate":
        to = query.get("to", ["/"])[0].replace("{port}", str(port)).encode("latin-1")
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: " + to + b"\r\nContent-Length: 0\r\n\r\n")
    elif path == "/post-echo":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
    else:
        conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
    if hold:
        # Until the client closes (or the time is up): recv answers b"" at its close.
        conn.settimeout(HOLD_SECONDS)
        try:
            while conn.recv(4096):
                pass
        except OSError:
            pass


def serve(conn, port):
    try:
        raw = read_header(conn)
        if raw is not None:
            answer(conn, raw, port)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    args = peerlib.parser(__doc__).parse_args()
    peerlib.start(args)
    srv = peerlib.listen_tcp(args.port)
    port = srv.getsockname()[1]
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn, port), daemon=True).start()


if __name__ == "__main__":
    main()
