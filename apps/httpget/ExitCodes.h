// httpget's exit statuses: curl's numbers, so that scripts written for one read the other.
#pragma once

#include "HttpProt/HttpCli.h"

struct TExitCode {
  int Code;
  const char* Meaning;
};

inline constexpr int ExitOk = 0;
inline constexpr int ExitUnsupported = 1;
inline constexpr int ExitMalformedUrl = 3;
inline constexpr int ExitWriteError = 23;
inline constexpr int ExitReadError = 26;

// Every status httpget ends with, for --help and the manual.
inline constexpr TExitCode ExitCodes[] = {
    {0, "success: the body (a status below 400) was written"},
    {1, "unsupported protocol (only http:// and https:// are fetched), or a relocation refused"},
    {2, "the command line does not fit (the reason on standard error)"},
    {3, "the URL names no host"},
    {6, "the host name did not resolve"},
    {7, "no connection to the server (or the proxy)"},
    {8, "a reply that breaks HTTP"},
    {22, "the server answered a status of 400 or more"},
    {23, "the body could not be written"},
    {26, "the file to post could not be read"},
    {28, "timed out: no progress for --timeout seconds"},
    {35, "the TLS handshake failed"},
    {42, "the request was aborted"},
    {47, "too many relocations (more than --max-redirs)"},
    {56, "the connection ended before the reply was whole"},
    {60, "the server's certificate is not trusted"},
};

// The exit status for what ended a request.
inline int ExitCodeFor(THttpFailure Kind) {
  switch (Kind) {
    case hfNone:
      return ExitOk;
    case hfUnsupportedProtocol:
    case hfRelocationRefused:
      return ExitUnsupported;
    case hfResolve:
      return 6;
    case hfConnect:
      return 7;
    case hfProtocol:
      return 8;
    case hfHttpStatus:
      return 22;
    case hfLocalData:
      return ExitWriteError;
    case hfTimeout:
      return 28;
    case hfTls:
      return 35;
    case hfAborted:
      return 42;
    case hfTooManyRelocations:
      return 47;
    case hfConnectionLost:
      return 56;
    case hfTlsCertificate:
      return 60;
  }
  return ExitUnsupported;
}
