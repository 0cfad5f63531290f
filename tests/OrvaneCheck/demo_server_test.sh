#!/usr/bin/env bash
# The demo server against real clients: curl, wget and ab get every answer whole, and
# clients that never send or never stop sending hold up nobody.
source "$(dirname "$0")/lib.sh" "$1"
start_demo || { finish; exit 1; }
port=${DEMO_BASE##*:}
clients() { python3 "$HERE/clients.py" "$@"; }

# The page names this server in its entries; the headers agree with the body.
curl -sS -D "$WORK/page.hdr" -o "$WORK/page.htm" "$DEMO_URL"
contains "page status" "$WORK/page.hdr" "HTTP/1.0 200 OK"
contains "page type" "$WORK/page.hdr" "Content-Type: text/html"
length=$(awk 'tolower($1) == "content-length:" {print $2 + 0}' "$WORK/page.hdr")
expect "page length" test "$length" = "$(stat -c %s "$WORK/page.htm")"
contains "version entry" "$WORK/page.htm" '<META HTTP-EQUIV="Version" CONTENT="1.1">'
contains "download entry" "$WORK/page.htm" "CONTENT=\"$DEMO_BASE/orvane-demo-1.1.sh\""
contains "read-me entry" "$WORK/page.htm" "CONTENT=\"$DEMO_BASE/readme.txt\""

# wget and curl fetch the same update file.
wget -q -O "$WORK/update.wget" "$DEMO_BASE/orvane-demo-1.1.sh"
curl -sS -o "$WORK/update.curl" "$DEMO_BASE/orvane-demo-1.1.sh"
expect "wget and curl agree" cmp -s "$WORK/update.wget" "$WORK/update.curl"
contains "update file" "$WORK/update.wget" 'echo "Orvane Demo 1.1 is installed."'

# HEAD has the headers of GET and no body; what is not there is 404; other methods 405.
clients raw "$port" 'HEAD /readme.txt HTTP/1.0\r\n\r\n' >"$WORK/head"
contains "HEAD status" "$WORK/head" "HTTP/1.0 200 OK"
expect "HEAD has no body" test "$(tail -c 4 "$WORK/head" | od -An -c | tr -d ' ')" = '\r\n\r\n'
expect "404" test "$(curl -s -o /dev/null -w '%{http_code}' "$DEMO_BASE/missing")" = 404
expect "405" test "$(curl -s -o /dev/null -w '%{http_code}' -X POST "$DEMO_URL")" = 405
clients raw "$port" 'nonsense\r\n\r\n' >"$WORK/bad"
contains "malformed request" "$WORK/bad" "HTTP/1.0 400 Bad Request"

# A client that never sends and one that sends an endless line: others are served
# meanwhile, the endless one is answered once the request limit is reached, and the
# server's memory stays where it was.
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$DEMO_PID/status"; }
before=$(rss)
clients silent "$port" 15 >"$WORK/silent" &
silent_pid=$!
clients flood "$port" 50000000 >"$WORK/flood" &
flood_pid=$!
sleep 0.5
for i in 1 2 3; do
  expect "served beside slow clients ($i)" curl -fsS --max-time 2 -o /dev/null "$DEMO_URL"
done
wait "$flood_pid"
read -r flooded answer <"$WORK/flood"
expect "endless line cut short ($flooded bytes taken)" test "$flooded" -lt 10000000
expect "endless line answered ($answer)" test "$answer" = "HTTP/1.0 431 Request Header Fields Too Large"
after=$(rss)
expect "memory bounded (${before} kB -> ${after} kB)" test $((after - before)) -lt 20000
wait "$silent_pid"
silent=$(cat "$WORK/silent")
expect "silent client dropped by the idle time-out ($silent s)" test "$silent" != open

# A burst of 50 at a time, every request answered.
ab -q -c 50 -n 2000 "$DEMO_URL" >"$WORK/ab" 2>&1
contains "ab complete" "$WORK/ab" "Complete requests:      2000"
contains "ab failed" "$WORK/ab" "Failed requests:        0"
finish
