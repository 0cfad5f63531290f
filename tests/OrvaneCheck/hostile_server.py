#!/usr/bin/env python3
"""An information server that sends what a compromised or careless server, or anyone on
the path, could send. It prints its port on the first line of standard output.

Usage: hostile_server.py MARKER-PATH

  /page/NAME        an information page; NAME picks the entries (PAGES below). "{base}"
                    in an entry stands for this server's address.
  /files/NAME       200, the body "payload of NAME\\n"
  /script.sh        a "#!" script that creates MARKER-PATH when it runs
  /slow.bin         100,000 bytes announced, 100 sent every 0.1 s
  /overlong.bin     1,000 bytes announced, 200,000 sent
  /huge-announced   a page announcing 100,000,000 bytes, 64 KiB sent, then held open
  /huge-streamed    a page without a length: 3 MiB
  /status/CODE      that status, the reason phrase carrying terminal escapes
  /escapes.txt      a read-me text full of terminal escapes and bytes that are no UTF-8
"""
import http.server
import socketserver
import sys
import time

MARKER = sys.argv[1]
ESC = "\x1b"
# A title change, a screen clear, a bell and a C1 CSI (in a body UTF-8 encoded, in a
# reason phrase the raw byte 0x9b).
NASTY = ESC + "]0;owned" + "\x07" + ESC + "[2J" + "\u009b" + "31m"
# Bytes that are no UTF-8: a raw CSI and 0xff (bodies only).
RAW = "\udc9b\udcff"
# Every C1 control, U+0080 to U+009F, UTF-8 encoded.
C1 = "".join(chr(c) for c in range(0x80, 0xA0))


def entries(name, base):
    long_name = "n" * 900
    pages = {
        "bad-date": [("Version", "1.1"), ("Date", "Feb 30, 2020"),
                     ("Download", base + "/files/u.sh")],
        "readme-file": [("Version", "1.1"), ("ReadMe", "file:///etc/passwd"),
                        ("Download", base + "/files/u.sh")],
        "readmeext-file": [("Version", "1.1"), ("ReadMeExt", "file:///etc/passwd"),
                           ("Download", base + "/files/u.sh")],
        "download-empty": [("Version", "1.1"), ("Download", "")],
        "download-long": [("Version", "1.1"), ("Download", base + "/files/" + "x" * 1000)],
        "download-file": [("Version", "1.1"), ("Download", "file:///etc/passwd")],
        # https to a server that speaks plain HTTP: TLS fails, nothing is fetched in the open.
        "download-https": [("Version", "1.1"), ("Download", "https" + base[4:] + "/files/u.sh")],
        "download-ftp": [("Version", "1.1"), ("Download", "ftp://127.0.0.1/u.sh")],
        "readme-https": [("Version", "1.1"), ("ReadMe", "https" + base[4:] + "/escapes.txt"),
                         ("Download", base + "/files/u.sh")],
        "redirect-js": [("Redirect", "javascript:alert(1)")],
        "download-dot": [("Version", "1.1"), ("Download", base + "/files/.")],
        "download-dotdot": [("Version", "1.1"), ("Download", base + "/files/..")],
        "download-900": [("Version", "1.1"), ("Download", base + "/files/" + long_name)],
        "download-slash": [("Version", "1.1"), ("Download", base + "/files/")],
        "download-hidden": [("Version", "1.1"), ("Download", base + "/files/.bashrc")],
        "download-backslash": [("Version", "1.1"), ("Download", base + "/files/a\\b.sh")],
        "download-percent": [("Version", "1.1"), ("Download", base + "/files/a%2Fb.sh")],
        "escapes": [("Product", "Evil" + NASTY + RAW), ("Version", "1.1.2" + NASTY),
                    ("Date", "Dec 7, 2026"), ("Author", "Mallory" + NASTY + C1),
                    ("ReadMe", base + "/escapes.txt"), ("Download", base + "/files/u.sh")],
        "download-escape": [("Version", "1.1"), ("Download", base + "/files/u" + NASTY + ".sh")],
        "download-c1": [("Version", "1.1"), ("Download", base + "/files/u\u009b2J.sh")],
        "download-del": [("Version", "1.1"), ("Download", base + "/files/u\x7f.sh")],
        "download-raw": [("Version", "1.1"), ("Download", base + "/files/u" + RAW + ".sh")],
        "script": [("Product", "Trojan"), ("Version", "1.1"), ("Download", base + "/script.sh")],
        "slow": [("Version", "1.1"), ("Download", base + "/slow.bin")],
        "overlong": [("Version", "1.1"), ("Download", base + "/overlong.bin")],
        "long-version": [("Version", "1.20240101120"), ("Download", base + "/files/u.sh")],
        "downgrade": [("Version", "2.0"), ("Download", base + "/files/u.sh")],
        "missing": [("Version", "1.1"), ("Redirect", base + "/status/404")],
    }
    return pages[name]


class Handler(http.server.BaseHTTPRequestHandler):
    def reply(self, body, code=200, reason=None, length=True, ctype="text/html"):
        if isinstance(body, str):
            body = body.encode("utf-8", "surrogateescape")
        self.send_response(code, reason)
        self.send_header("Content-Type", ctype)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        base = "http://127.0.0.1:%d" % self.server.server_address[1]
        path = self.path
        if path.startswith("/page/"):
            lines = ["<HTML><HEAD>"]
            for name, content in entries(path[len("/page/"):], base):
                lines.append('<META HTTP-EQUIV="%s" CONTENT="%s">' % (name, content))
            lines.append("</HEAD><BODY>hostile</BODY></HTML>")
            self.reply("\r\n".join(lines) + "\r\n")
        elif path.startswith("/files/"):
            self.reply("payload of %s\n" % path[len("/files/"):], ctype="application/octet-stream")
        elif path == "/script.sh":
            self.reply("#!/bin/sh\ntouch '%s'\n" % MARKER, ctype="application/octet-stream")
        elif path == "/slow.bin":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            for _ in range(1000):
                self.wfile.write(b"s" * 100)
                self.wfile.flush()
                time.sleep(0.1)
        elif path == "/overlong.bin":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"o" * 200000)
        elif path == "/huge-announced":
            self.send_response(200)
            self.send_header("Content-Length", "100000000")
            self.end_headers()
            self.wfile.write(b"<META>" * 10923)
            self.wfile.flush()
            time.sleep(30)
        elif path == "/huge-streamed":
            self.send_response(200)
            self.end_headers()
            for _ in range(48):
                self.wfile.write(b"x" * 65536)
        elif path.startswith("/status/"):
            self.reply("", code=int(path[len("/status/"):]), reason="Gone" + NASTY)
        elif path == "/escapes.txt":
            self.reply("Read me" + NASTY + "\n" + RAW + "bad UTF-8\n", ctype="text/plain")
        else:
            self.reply("", code=404, reason="Not Found")

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
