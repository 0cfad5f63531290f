"""Accepts one connection and closes one direction before the other.

--mode send-first: sends --bytes of seeded random data (printing "sent <n> <crc32
  hex>"), shuts its sending down
  (the other side sees the end of the stream), keeps reading until the other side
  ends, prints "got <n> <crc32 hex> <eof|reset>", then closes.
--mode reply-at-eof: reads until the other side shuts its sending down, prints
  "got <n> <crc32 hex> <eof|reset>", answers "<n> <crc32 hex>\\n" on the still open
  direction, then closes.
"""

import socket

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--mode", choices=["send-first", "reply-at-eof"], required=True)
    p.add_argument("--bytes", type=int, default=0)
    p.add_argument("--seed", type=int, default=1)
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port)
    if args.mode == "send-first":
        data = peerlib.payload(args.bytes, args.seed)
        conn.sendall(data)
        peerlib.say("sent", len(data), peerlib.data_crc_hex(data))
        conn.shutdown(socket.SHUT_WR)
        peerlib.say("shutdown")
        n, crc, how = peerlib.read_to_eof(conn)
        peerlib.say("got", n, peerlib.crc_hex(crc), how)
    else:
        n, crc, how = peerlib.read_to_eof(conn)
        peerlib.say("got", n, peerlib.crc_hex(crc), how)
        try:
            conn.sendall(("%d %s\n" % (n, peerlib.crc_hex(crc))).encode())
        except OSError as e:
            peerlib.say("send-failed", e.errno)
    conn.close()
    peerlib.say("closed")


if __name__ == "__main__":
    main()
