// Splitting of request, proxy and relocation URLs, and the substring search it rests on.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Export.h"

// Splits URL into its six parts; every output is written (empty when absent). Nothing is
// decoded or defaulted: the port stays text, "%" escapes and case are kept, the query and
// fragment stay in Path. A host in brackets ("[::1]:8080") is an IPv6 literal: Host is
// what the brackets hold. An output may be the same object as URL.
ORV_API void ParseURL(const std::string& URL, std::string& Proto, std::string& User,
                      std::string& Pass, std::string& Host, std::string& Port, std::string& Path);

// 1-based position of the Count-th occurrence of Substr in S, overlapping matches included.
// Count > 0 counts from the start; when fewer matches exist the result is the length of S
// plus the number missing, so any result beyond the length means "not found". Count < 0
// counts from the end and gives 0 when too few exist. Count 0 and an empty Substr find
// nothing.
ORV_API std::int32_t Posn(const std::string& Substr, const std::string& S, std::int32_t Count);

// Where a request goes, as the HTTP client works it out from URL and Proxy, and from the
// "location" of a relocating response.
struct ORV_API THttpTarget {
  // Why the request cannot go there ("unsupported protocol: ftp"); empty when it can.
  std::string Refusal;
  // The document's server speaks TLS (https).
  bool Tls = false;
  // Through a proxy to an https server: the "host:port" the proxy is asked to CONNECT to;
  // the request then travels inside that tunnel. Empty otherwise.
  std::string Tunnel;
  // The host and port to connect to: the proxy's with a proxy, the document's without.
  std::string ConnectHost;
  std::string ConnectPort;
  // The document's server, named in the "Host: " line (never with a port; an IPv6 literal
  // in its brackets).
  std::string TargetHost;
  // The document's server with its port when one is named: what a proxy's request-URI
  // names, and the base of relative relocations through a proxy.
  std::string Authority;
  // The request-URI of the request line: the path alone, or the absolute address through
  // a proxy (but the path alone inside a tunnel).
  std::string RequestPath;
  // The path URL names, from which the document's name is taken.
  std::string Path;
  // The user part of URL (empty when none).
  std::string User;
  std::string Password;
};

// Splits URL (and Proxy, when not empty; ProxyPort when Proxy names no port) into the
// first request's target. http (no scheme means it) and https (port 443 by default, through
// a proxy in a tunnel) are spoken, in any case; any other scheme of URL, and any but http
// of Proxy, gives a Refusal, as do a control character (C0 or DEL) anywhere in URL and a
// host that is no host name (letters, digits, "-", "_", "." or an IPv6 literal in
// brackets). Blanks and bytes beyond ASCII go into RequestPath and Tunnel as "%" escapes;
// an IPv6 literal keeps its brackets in TargetHost and Authority, not in ConnectHost.
ORV_API THttpTarget RequestTarget(const std::string& URL, const std::string& Proxy,
                                  const std::string& ProxyPort);

// The next request's target after a relocation to Location, from the current Target: a
// path on the same server (and scheme), a bare document name, or an absolute address
// (another server, or another scheme; its port, or the scheme's). User and password of
// Location are ignored. A scheme other than http and https gives a Refusal, and so does
// what RequestTarget refuses of a URL; whether a step from https down to http may be taken
// is the caller's to decide (Tls tells).
ORV_API THttpTarget RelocationTarget(const THttpTarget& Current, const std::string& Location,
                                     bool ViaProxy);

// The file name for a document at Path: the last segment of what comes before the query
// (a trailing "/" dropped, at most 255 characters), or "document.htm" when there is none.
ORV_API std::string DocumentName(const std::string& Path);

// A TargetHost as a certificate is checked against: an IPv6 literal without its brackets.
ORV_API std::string BareHost(const std::string& Host);
