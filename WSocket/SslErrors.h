// The error codes a TLS session reports through the socket's events, beside the socket
// layer's own. They lie outside the socket layer's range, so a handler that sees only the
// code can tell a refused certificate from a network failure; the socket's SslErrorText
// names the precise reason.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Export.h"

enum TSslError : std::uint16_t {
  // The handshake failed: no common protocol version or cipher, an alert from the peer,
  // a peer that does not speak TLS, or the connection lost during the handshake.
  sslHandshakeFailed = 12101,
  // The peer's certificate was refused (expired, wrong host, unknown authority...).
  sslCertificateRejected = 12102,
  // The connection ended without the peer's close-notify: the data may be cut short.
  sslTruncated = 12103,
  // After the handshake: an alert from the peer or a record that failed to decrypt.
  sslProtocolError = 12104,
};

// A short English text for one of the codes above; "" for any other code.
ORV_API std::string SslErrorDesc(int Code);
