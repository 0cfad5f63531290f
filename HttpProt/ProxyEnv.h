// The proxy a request takes from the environment, read as curl reads it:
// - http_proxy for http (lower case only: a web server sets HTTP_PROXY from a request's
//   "Proxy:" header), https_proxy or HTTPS_PROXY for https, then all_proxy or ALL_PROXY;
// - a proxy written [scheme://][user[:password]@]host[:port][/], http when no scheme is
//   given, port 1080 when none; user and password (percent-decoded) are the proxy's own
//   credentials and go nowhere else;
// - no_proxy or NO_PROXY: a comma-separated list of host names (the name and every name
//   under it, a leading dot or not), IPv4 and IPv6 addresses and CIDR blocks (which match
//   only a host given as an address: nothing is looked up), or "*" for every host. Case
//   does not matter; blanks around entries are ignored.
#pragma once

#include <functional>
#include <string>

#include "Platform/Export.h"

// The proxy a request goes through; an empty Proxy means a direct connection.
struct ORV_API TProxySetting {
  // "host:port" ("[v6]:port" for an IPv6 address), or "scheme://host:port" for a scheme
  // other than http, which the client then refuses by name.
  std::string Proxy;
  std::string Username;
  std::string Password;
};

// A variable's value, "" when it is not set.
using TEnvironment = std::function<std::string(const char* Name)>;

// The process's own environment.
ORV_API std::string ProcessEnvironment(const char* Name);

// The proxy for URL under Env; none for a scheme other than http and https, or when no_proxy
// names the URL's host.
ORV_API TProxySetting EnvironmentProxy(const std::string& URL, const TEnvironment& Env);

// Whether the no_proxy list names Host (a name, or an address with or without brackets).
ORV_API bool NoProxyMatches(const std::string& NoProxy, const std::string& Host);
