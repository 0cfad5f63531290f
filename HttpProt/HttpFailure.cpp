// What ended a request, as a program tells its user: the kind decides the sentence, the
// socket's error its last words, in the terms the system's own tools use.
#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "HttpProt/HttpCli.h"
#include "Platform/Winsock.h"
#include "WSocket/ErrorDesc.h"

namespace {

// The socket layer's codes for the system's errors that end a connection or a look-up.
struct TSystemError {
  int Code;
  int Errno;  // or, for a look-up, the resolver's EAI_ code
  bool Lookup;
};
constexpr TSystemError SystemErrors[] = {
    {plat::WSAECONNREFUSED, ECONNREFUSED, false},
    {plat::WSAECONNRESET, ECONNRESET, false},
    {plat::WSAECONNABORTED, ECONNABORTED, false},
    {plat::WSAETIMEDOUT, ETIMEDOUT, false},
    {plat::WSAENETUNREACH, ENETUNREACH, false},
    {plat::WSAEHOSTUNREACH, EHOSTUNREACH, false},
    {plat::WSAEHOSTDOWN, EHOSTDOWN, false},
    {plat::WSAENETDOWN, ENETDOWN, false},
    {plat::WSAENETRESET, ENETRESET, false},
    {plat::WSAEADDRNOTAVAIL, EADDRNOTAVAIL, false},
    {plat::WSAEACCES, EACCES, false},
    {plat::WSAEMFILE, EMFILE, false},
    {plat::WSAENOBUFS, ENOBUFS, false},
    {plat::WSAEAFNOSUPPORT, EAFNOSUPPORT, false},
    {plat::WSAHOST_NOT_FOUND, EAI_NONAME, true},
    {plat::WSATRY_AGAIN, EAI_AGAIN, true},
    {plat::WSANO_RECOVERY, EAI_FAIL, true},
#ifdef EAI_NODATA
    {plat::WSANO_DATA, EAI_NODATA, true},
#endif
};

std::string LowerFirst(std::string Text) {
  if (!Text.empty() && Text[0] >= 'A' && Text[0] <= 'Z') Text[0] = static_cast<char>(Text[0] + 32);
  return Text;
}

}  // namespace

std::string SystemErrorWords(std::uint16_t Error) {
  for (const TSystemError& e : SystemErrors)
    if (e.Code == Error)
      return LowerFirst(e.Lookup ? gai_strerror(e.Errno) : std::strerror(e.Errno));
  return LowerFirst(WSocketErrorDesc(Error)) + " (error " + std::to_string(Error) + ")";
}

void THttpCli::NoteFailure(THttpFailure Kind, std::uint16_t Error) {
  if (FRq.Failure != hfNone) return;
  FRq.Failure = Kind;
  FRq.FailureError = Error;
}

std::string THttpCli::FailureMessage() const {
  const THttpTarget& t = FRq.Target;
  const std::string where =
      (FProxy.empty() ? "" : "proxy ") + t.ConnectHost + " port " + t.ConnectPort;
  const std::string words = FRq.FailureError != 0 ? SystemErrorWords(FRq.FailureError) : "";
  switch (FRq.Failure) {
    case hfNone:
      return {};
    case hfResolve:
      return "could not resolve host " + t.ConnectHost + (words.empty() ? "" : ": " + words);
    case hfConnect:
      // Without a socket error the component's own check refused: its phrase says which.
      return words.empty() ? FReasonPhrase : "could not connect to " + where + ": " + words;
    case hfTimeout:
      // The low-speed and overall bounds name themselves in the phrase.
      if (FReasonPhrase != "Connection timed out")
        return "timed out: " + FReasonPhrase + " (" + where + ")";
      return "timed out after " + std::to_string(FTimeout) + " seconds without progress (" + where +
             ")";
    case hfTls:
      return "TLS handshake with " + where + " failed: " + FReasonPhrase;
    case hfTlsCertificate:
      return "the certificate of " + t.TargetHost + " is not trusted: " + FReasonPhrase;
    case hfTooManyRelocations:
      return "too many relocations (more than " + std::to_string(FMaxRelocations) + ")";
    case hfHttpStatus:
      // A refused tunnel's phrase names the proxy and its status already.
      if (FRq.TunnelStatus >= 400) return FReasonPhrase;
      return "the server answered " + std::to_string(FRq.StatusCode) + " " + FReasonPhrase;
    default:
      return FReasonPhrase;
  }
}
