"""Serves the page at UPSTREAM after a delay, so that the please-wait form stays up.

Usage: slow_page.py PORT UPSTREAM-URL DELAY-SECONDS
"""
import http.server
import sys
import time
import urllib.request

PORT, UPSTREAM, DELAY = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        time.sleep(DELAY)
        body = urllib.request.urlopen(UPSTREAM, timeout=10).read()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


http.server.HTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
