"""Accepts one connection and reads it slowly: at most --chunk bytes, then a pause of
--period milliseconds, until the other side ends its sending. A small receive buffer
(--rcvbuf) keeps the data from piling up in the system on this side.

Prints "accepted", then "got <n> <crc32 hex> <eof|reset>".
"""

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--chunk", type=int, default=65536)
    p.add_argument("--period", type=float, default=5.0)
    p.add_argument("--rcvbuf", type=int, default=65536)
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port, rcvbuf=args.rcvbuf)
    count, crc, how = peerlib.read_to_eof(conn, chunk=args.chunk, pause_ms=args.period)
    peerlib.say("got", count, peerlib.crc_hex(crc), how)
    conn.close()


if __name__ == "__main__":
    main()
