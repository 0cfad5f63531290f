"""A UDP peer: prints "dgram <length> <crc32 hex>" for every datagram it receives
and, unless --no-echo, sends it back unchanged to its sender. A datagram "quit"
ends it. With --send-to PORT --send-bytes N it first sends one datagram of N seeded
random bytes to 127.0.0.1:PORT.
"""

import socket

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--no-echo", action="store_true")
    p.add_argument("--send-to", type=int, default=0)
    p.add_argument("--send-bytes", type=int, default=0)
    args = p.parse_args()
    peerlib.start(args)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", args.port))
    peerlib.say("port", s.getsockname()[1])
    if args.send_to:
        data = peerlib.payload(args.send_bytes, 1)
        s.sendto(data, ("127.0.0.1", args.send_to))
        peerlib.say("sent", len(data), peerlib.data_crc_hex(data))
    while True:
        data, sender = s.recvfrom(65535)
        if data == b"quit":
            break
        peerlib.say("dgram", len(data), peerlib.data_crc_hex(data))
        if not args.no_echo:
            s.sendto(data, sender)


if __name__ == "__main__":
    main()
