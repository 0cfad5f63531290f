#!/usr/bin/env python3
"""A hostile HTTP proxy on 127.0.0.1: fetches what it is asked for and, in every HTML
reply, rewrites the text FROM into TO, as anyone on the path of a plain-HTTP page could.
Usage: rewriting_proxy.py FROM TO; prints its port on the first line of standard output."""
import http.server
import socketserver
import sys
import urllib.request

FROM, TO = sys.argv[1].encode(), sys.argv[2].encode()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        try:
            with urllib.request.urlopen(self.path, timeout=10) as r:
                body, ctype, status = r.read(), r.headers.get("Content-Type", ""), r.status
        except urllib.error.HTTPError as e:
            body, ctype, status = e.read(), e.headers.get("Content-Type", ""), e.code
        if "html" in ctype:
            body = body.replace(FROM, TO)
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


socketserver.TCPServer.allow_reuse_address = True
with socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler) as server:
    print(server.server_address[1], flush=True)
    server.serve_forever()
