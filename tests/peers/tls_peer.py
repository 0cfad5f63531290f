"""A TLS server for one connection, with the certificate and key given.

After the handshake it sends --bytes bytes of seeded random data (or --text, with the
escapes of python strings), prints "sent <n> <crc32 hex>", and then ends as --end says:
  notify    sends its close-notify, waits for the client's, closes ("unwrapped")
  truncate  closes the connection without a close-notify ("truncated")
  corrupt   sends a record that fails to decrypt, then waits for the end ("corrupted")
  wait      reads until the client ends: "client close-notify" when the client sent
            one, "client truncated" when the connection ended without it; first
            "received <n> <crc32 hex>" of what it read
With --max-version 1.1 it offers nothing newer than TLS 1.1 (the handshake fails).
"""

import socket
import ssl
import zlib

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--bytes", type=int, default=0)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--text", default="")
    p.add_argument("--end", choices=["notify", "truncate", "corrupt", "wait"], default="notify")
    p.add_argument("--max-version", default="")
    args = p.parse_args()
    peerlib.start(args)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if args.max_version == "1.1":
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = ssl.TLSVersion.TLSv1
        ctx.maximum_version = ssl.TLSVersion.TLSv1_1
    ctx.load_cert_chain(args.cert, args.key)
    raw = peerlib.accept_one(args.port)
    try:
        # A connection that ends without a close-notify is an error here, not an end.
        conn = ctx.wrap_socket(raw, server_side=True, suppress_ragged_eofs=False)
    except (ssl.SSLError, OSError) as e:
        peerlib.say("handshake failed", type(e).__name__)
        return
    peerlib.say("handshake", conn.version())
    data = args.text.encode().decode("unicode_escape").encode("latin-1") if args.text else \
        peerlib.payload(args.bytes, args.seed)
    conn.sendall(data)
    peerlib.say("sent", len(data), peerlib.data_crc_hex(data))
    if args.end == "notify":
        try:
            conn.unwrap().close()
            peerlib.say("unwrapped")
        except (ssl.SSLError, OSError) as e:
            peerlib.say("unwrap failed", type(e).__name__)
    elif args.end == "truncate":
        # Drops the TLS layer: the connection ends with no close-notify.
        conn.shutdown(socket.SHUT_RDWR)
        conn.close()
        peerlib.say("truncated")
    elif args.end == "corrupt":
        # An application-data record whose content no key produced, past the TLS layer.
        socket.socket.sendall(conn, b"\x17\x03\x03\x00\x20" + bytes(range(32)))
        peerlib.say("corrupted")
        try:
            while conn.recv(65536):
                pass
        except (ssl.SSLError, OSError):
            pass
        conn.close()
    else:
        count, crc, how = 0, 0, "client close-notify"
        try:
            while True:
                chunk = conn.recv(1 << 20)
                if not chunk:
                    break
                count += len(chunk)
                crc = zlib.crc32(chunk, crc)
        except ssl.SSLEOFError:
            how = "client truncated"
        except (ssl.SSLError, OSError) as e:
            how = "client failed " + type(e).__name__
        peerlib.say("received", count, peerlib.crc_hex(crc))
        peerlib.say(how)
        conn.close()


if __name__ == "__main__":
    main()
