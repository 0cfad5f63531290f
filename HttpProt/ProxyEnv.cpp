#include "HttpProt/ProxyEnv.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Host/SysUtils.h"
#include "HttpProt/Url.h"

namespace {

// The proxy port curl takes when the variable names none.
constexpr const char* DefaultProxyPort = "1080";

// The first of the variables that is set and not empty.
std::string FirstSet(const TEnvironment& Env, std::initializer_list<const char*> Names) {
  for (const char* name : Names) {
    std::string v = Env(name);
    if (!v.empty()) return v;
  }
  return "";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX escapes decoded; a "%" not followed by two hexadecimal digits stays as it is.
std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const int hi = s[i] == '%' && i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
    const int lo = hi >= 0 ? HexDigit(s[i + 2]) : -1;
    if (lo >= 0) {
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// An address of either family, its bytes in network order; false for a name.
struct TIpAddress {
  int Family = 0;
  unsigned char Bytes[16] = {};
  int Bits() const { return Family == AF_INET6 ? 128 : 32; }
};

bool ParseAddress(const std::string& Text, TIpAddress& Out) {
  if (inet_pton(AF_INET, Text.c_str(), Out.Bytes) == 1) {
    Out.Family = AF_INET;
    return true;
  }
  if (inet_pton(AF_INET6, Text.c_str(), Out.Bytes) == 1) {
    Out.Family = AF_INET6;
    return true;
  }
  return false;
}

// Whether Host lies in the block Entry ("address" or "address/bits").
bool InBlock(const TIpAddress& Host, const std::string& Entry) {
  const std::size_t slash = Entry.find('/');
  TIpAddress block;
  if (!ParseAddress(BareHost(Entry.substr(0, slash)), block) || block.Family != Host.Family)
    return false;
  int bits = block.Bits();
  if (slash != std::string::npos) {
    const std::string n = Entry.substr(slash + 1);
    if (n.empty() || n.size() > 3 || !std::all_of(n.begin(), n.end(), ::isdigit)) return false;
    bits = std::stoi(n);
    if (bits > block.Bits()) return false;
  }
  for (int i = 0; i < bits; ++i) {
    const unsigned char mask = static_cast<unsigned char>(0x80 >> (i % 8));
    if ((Host.Bytes[i / 8] & mask) != (block.Bytes[i / 8] & mask)) return false;
  }
  return true;
}

bool NameMatches(const std::string& Host, std::string Entry) {
  if (!Entry.empty() && Entry.front() == '.') Entry.erase(0, 1);
  if (!Entry.empty() && Entry.back() == '.') Entry.pop_back();
  if (Entry.empty()) return false;
  return Host == Entry || (Host.size() > Entry.size() && Host.ends_with(Entry) &&
                           Host[Host.size() - Entry.size() - 1] == '.');
}

}  // namespace

std::string ProcessEnvironment(const char* Name) {
  const char* v = std::getenv(Name);
  return v != nullptr ? v : "";
}

bool NoProxyMatches(const std::string& NoProxy, const std::string& HostText) {
  std::string host = LowerCase(BareHost(Trim(HostText)));
  if (!host.empty() && host.back() == '.') host.pop_back();
  TIpAddress address;
  const bool isAddress = ParseAddress(host, address);
  std::size_t at = 0;
  while (at <= NoProxy.size()) {
    const std::size_t comma = std::min(NoProxy.find(',', at), NoProxy.size());
    const std::string entry = LowerCase(Trim(NoProxy.substr(at, comma - at)));
    at = comma + 1;
    if (entry == "*") return true;
    if (entry.empty()) continue;
    if (isAddress ? InBlock(address, entry) : NameMatches(host, entry)) return true;
  }
  return false;
}

TProxySetting EnvironmentProxy(const std::string& URL, const TEnvironment& Env) {
  std::string scheme, user, password, host, port, path;
  ParseURL(URL, scheme, user, password, host, port, path);
  scheme = LowerCase(scheme);
  std::string value;
  if (scheme.empty() || scheme == "http") {
    value = FirstSet(Env, {"http_proxy"});
  } else if (scheme == "https") {
    value = FirstSet(Env, {"https_proxy", "HTTPS_PROXY"});
  } else {
    return {};
  }
  if (value.empty()) value = FirstSet(Env, {"all_proxy", "ALL_PROXY"});
  if (value.empty() || NoProxyMatches(FirstSet(Env, {"no_proxy", "NO_PROXY"}), host)) return {};

  TProxySetting proxy;
  std::string rest = Trim(value);
  std::string proxyScheme = "http";
  if (const std::size_t sep = rest.find("://"); sep != std::string::npos) {
    proxyScheme = LowerCase(rest.substr(0, sep));
    rest.erase(0, sep + 3);
  }
  rest = rest.substr(0, rest.find('/'));
  if (const std::size_t at = rest.rfind('@'); at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    proxy.Username = PercentDecoded(userInfo.substr(0, colon));
    if (colon != std::string::npos) proxy.Password = PercentDecoded(userInfo.substr(colon + 1));
    rest.erase(0, at + 1);
  }
  // A port follows the last colon, unless that colon is inside an IPv6 address's brackets.
  const std::size_t colon = rest.rfind(':');
  const bool hasPort = colon != std::string::npos && rest.find(']', colon) == std::string::npos &&
                       (rest.front() == '[' || rest.find(':') == colon);
  const std::string authority = hasPort ? rest : rest + ":" + DefaultProxyPort;
  proxy.Proxy = proxyScheme == "http" ? authority : proxyScheme + "://" + authority;
  return proxy;
}
