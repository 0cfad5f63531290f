#include "Host/Published.h"
#include "WSocket/SslWSocket.h"

// The socket's properties and events, and the TLS settings. SslErrorText has no form-file
// representation: it belongs to a session.
const TPublishedClass& TSslWSocket::PublishedClass() {
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("TSslWSocket", &TWSocket::PublishedClass(),
                                  [](TComponent* AOwner) { return new TSslWSocket(AOwner); });
    TPublish<TSslWSocket>(*c)
        .Boolean("SslEnable", &TSslWSocket::SslEnable, &TSslWSocket::SetSslEnable)
        .String("SslHostName", &TSslWSocket::SslHostName, &TSslWSocket::SetSslHostName)
        .String("SslCAFile", &TSslWSocket::SslCAFile, &TSslWSocket::SetSslCAFile)
        .String("SslCAPath", &TSslWSocket::SslCAPath, &TSslWSocket::SetSslCAPath)
        .Boolean("SslUnsafeSkipVerify", &TSslWSocket::SslUnsafeSkipVerify,
                 &TSslWSocket::SetSslUnsafeSkipVerify);
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* TSslWSocket::Published() const {
  return &PublishedClass();
}
