"""Serves the page at UPSTREAM after a delay, so that the please-wait form stays up; or,
with "drip", the whole reply one byte every DELAY seconds, as a server that holds a check
by trickling would.

Usage: slow_page.py PORT UPSTREAM-URL DELAY-SECONDS [drip]
"""
import http.server
import sys
import time
import urllib.request

PORT, UPSTREAM, DELAY = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
DRIP = sys.argv[4:] == ["drip"]
# However slow the client, a drip ends by then.
DRIP_SECONDS = 120


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if not DRIP:
            time.sleep(DELAY)
        body = urllib.request.urlopen(UPSTREAM, timeout=10).read()
        reply = (b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n"
                 % len(body) + body)
        if not DRIP:
            self.wfile.write(reply)
            return
        deadline = time.monotonic() + DRIP_SECONDS
        try:
            for i in range(len(reply)):
                if time.monotonic() > deadline:
                    break
                self.wfile.write(reply[i:i + 1])
                self.wfile.flush()
                time.sleep(DELAY)
        except OSError:
            pass  # the client gave up, as it should

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
