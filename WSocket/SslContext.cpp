#include "WSocket/SslContext.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "WSocket/SslErrors.h"

std::string SslErrorDesc(int Code) {
  switch (Code) {
    case sslHandshakeFailed:
      return "TLS handshake failed";
    case sslCertificateRejected:
      return "TLS certificate rejected";
    case sslTruncated:
      return "TLS connection truncated";
    case sslProtocolError:
      return "TLS protocol error";
    default:
      return "";
  }
}

namespace ssl {

namespace {

// The byte queues as the engine's input and output: it never touches the network, so no
// call into it can block, and the socket decides when bytes move.
TByteFifo* FifoOf(BIO* Bio) {
  return static_cast<TByteFifo*>(BIO_get_data(Bio));
}

int FifoWrite(BIO* Bio, const char* Data, int Len) {
  BIO_clear_retry_flags(Bio);
  if (Len <= 0) return 0;
  FifoOf(Bio)->Append(Data, static_cast<std::size_t>(Len));
  return Len;
}

int FifoRead(BIO* Bio, char* Data, int Len) {
  BIO_clear_retry_flags(Bio);
  TByteFifo* fifo = FifoOf(Bio);
  if (fifo->Empty()) {
    // Never an end: whether the stream ended properly is the socket's to judge, from
    // the close-notify the engine saw or did not see.
    BIO_set_retry_read(Bio);
    return -1;
  }
  const std::size_t n = std::min(fifo->Size(), static_cast<std::size_t>(Len > 0 ? Len : 0));
  std::memcpy(Data, fifo->Data(), n);
  fifo->Consume(n);
  return static_cast<int>(n);
}

long FifoCtrl(BIO* Bio, int Cmd, long, void*) {
  switch (Cmd) {
    case BIO_CTRL_PENDING:
      return static_cast<long>(FifoOf(Bio)->Size());
    case BIO_CTRL_WPENDING:
      return 0;
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

int FifoCreate(BIO* Bio) {
  BIO_set_init(Bio, 1);
  return 1;
}

int FifoDestroy(BIO*) {
  return 1;
}

BIO_METHOD* FifoMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "byte queue");
    BIO_meth_set_write(m, FifoWrite);
    BIO_meth_set_read(m, FifoRead);
    BIO_meth_set_ctrl(m, FifoCtrl);
    BIO_meth_set_create(m, FifoCreate);
    BIO_meth_set_destroy(m, FifoDestroy);
    return m;
  }();
  return method;
}

BIO* NewFifoBio(TByteFifo& Fifo) {
  BIO* bio = BIO_new(FifoMethod());
  if (bio != nullptr) BIO_set_data(bio, &Fifo);
  return bio;
}

bool IsAddress(const std::string& Host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, Host.c_str(), buf) == 1 || inet_pton(AF_INET6, Host.c_str(), buf) == 1;
}

}  // namespace

void TCtxFree::operator()(ssl_ctx_st* Ctx) const {
  SSL_CTX_free(Ctx);
}

void ClearErrors() {
  ERR_clear_error();
}

std::string TakeErrorText(const std::string& Fallback) {
  std::string text;
  while (const unsigned long e = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(e);
    const std::string part = reason != nullptr ? reason : "error " + std::to_string(e);
    if (text.find(part) != std::string::npos) continue;
    if (!text.empty()) text += "; ";
    text += part;
  }
  return text.empty() ? Fallback : text;
}

TCtxPtr NewClientContext(const TClientSettings& Settings, std::string& Error) {
  ClearErrors();
  TCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) {
    Error = "cannot make a TLS context: " + TakeErrorText("out of memory");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx.get(), TLS1_3_VERSION);
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_verify(ctx.get(), Settings.Verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (!Settings.CAFile.empty() || !Settings.CAPath.empty()) {
    const char* file = Settings.CAFile.empty() ? nullptr : Settings.CAFile.c_str();
    const char* path = Settings.CAPath.empty() ? nullptr : Settings.CAPath.c_str();
    // The engine's own text for a missing file is a code and a library name; the user
    // needs the file and the system's reason.
    if (file != nullptr && ::access(file, R_OK) != 0) {
      Error = "cannot read CA file " + Settings.CAFile + ": " + std::strerror(errno);
      return nullptr;
    }
    if (path != nullptr && ::access(path, R_OK | X_OK) != 0) {
      Error = "cannot read CA folder " + Settings.CAPath + ": " + std::strerror(errno);
      return nullptr;
    }
    if (SSL_CTX_load_verify_locations(ctx.get(), file, path) != 1) {
      Error = std::string("cannot load the trusted certificates from ") +
              (file != nullptr ? "CA file " + Settings.CAFile : "CA folder " + Settings.CAPath) +
              ": " + TakeErrorText("no PEM certificate in it");
      return nullptr;
    }
  } else {
    // The system's store, by its built-in location: the engine's own default would also
    // follow environment variables, and the components read none.
    X509_STORE* store = SSL_CTX_get_cert_store(ctx.get());
    const char* dir = X509_get_default_cert_dir();
    const char* file = X509_get_default_cert_file();
    bool loaded = false;
    if (::access(dir, R_OK | X_OK) == 0) loaded = X509_STORE_load_path(store, dir) == 1;
    if (!loaded && ::access(file, R_OK) == 0) loaded = X509_STORE_load_file(store, file) == 1;
    // Without a store every certificate is refused as of an unknown authority, which the
    // session then reports.
    ClearErrors();
  }
  return ctx;
}

ssl_st* NewClientSession(ssl_ctx_st* Ctx, TByteFifo& In, TByteFifo& Out,
                         const std::string& HostName, bool Verify, std::string& Error) {
  ClearErrors();
  SSL* s = SSL_new(Ctx);
  BIO* in = s != nullptr ? NewFifoBio(In) : nullptr;
  BIO* out = in != nullptr ? NewFifoBio(Out) : nullptr;
  if (out == nullptr) {
    BIO_free(in);
    SSL_free(s);
    Error = "cannot make a TLS session: " + TakeErrorText("out of memory");
    return nullptr;
  }
  SSL_set_bio(s, in, out);
  SSL_set_connect_state(s);
  std::string host = HostName;
  // A fully qualified name's final dot is not part of the names certificates carry.
  if (host.size() > 1 && host.back() == '.') host.pop_back();
  bool ok = true;
  if (IsAddress(host)) {
    // Addresses are never sent as a server name.
    if (Verify) ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s), host.c_str()) == 1;
  } else if (!host.empty()) {
    ok = SSL_set_tlsext_host_name(s, host.c_str()) == 1;
    if (ok && Verify) {
      SSL_set_hostflags(s, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      ok = SSL_set1_host(s, host.c_str()) == 1;
    }
  }
  if (!ok) {
    SSL_free(s);
    Error = "cannot use \"" + HostName + "\" as the TLS host name: " + TakeErrorText("invalid");
    return nullptr;
  }
  return s;
}

void FreeSession(ssl_st* Session) {
  SSL_free(Session);
}

std::string VerifyFailureText(long Result) {
  switch (Result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate is not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
      return "host name mismatch";
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "IP address mismatch";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return "self-signed certificate";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "self-signed certificate in chain";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "certificate issued by an unknown authority";
    case X509_V_ERR_CERT_REVOKED:
      return "certificate has been revoked";
    case X509_V_ERR_INVALID_PURPOSE:
      return "certificate is not meant for a server";
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return "certificate signature is invalid";
    case X509_V_ERR_EE_KEY_TOO_SMALL:
    case X509_V_ERR_CA_KEY_TOO_SMALL:
    case X509_V_ERR_CA_MD_TOO_WEAK:
      return "certificate key or signature too weak";
    default:
      return X509_verify_cert_error_string(Result);
  }
}

}  // namespace ssl
