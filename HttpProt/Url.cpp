#include "HttpProt/Url.h"

#include <algorithm>
#include <cstdint>

namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= s.size()) return false;
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Characters of s from 0-based offset from on; empty when from lies past the end.
std::string Tail(const std::string& s, size_t from) {
  return from < s.size() ? s.substr(from) : std::string();
}

void SplitUserInfo(std::string UserInfo, std::string& User, std::string& Pass) {
  const size_t colon = UserInfo.find(':');
  if (colon == std::string::npos) {
    User = std::move(UserInfo);
  } else {
    User = UserInfo.substr(0, colon);
    Pass = UserInfo.substr(colon + 1);
  }
}

// An IPv6 literal in brackets ("[::1]", "[::1]:8080") after the user-info: its colons are
// the address's own, the port is only what follows "]:". False, and nothing written, for
// any other authority.
bool SplitBracketed(const std::string& Authority, size_t From, std::string& Host,
                    std::string& Port) {
  if (From >= Authority.size() || Authority[From] != '[') return false;
  const size_t close = Authority.find(']', From);
  if (close == std::string::npos) return false;
  if (close + 1 < Authority.size() && Authority[close + 1] != ':') return false;
  Host = Authority.substr(From + 1, close - From - 1);
  Port = Tail(Authority, close + 2);
  return true;
}

// Bracketed tells that Host came from an IPv6 literal in brackets.
void SplitAuthority(const std::string& Authority, std::string& User, std::string& Pass,
                    std::string& Host, std::string& Port, bool& Bracketed) {
  // The last ':' and '@' decide: a colon after the last '@' starts the port, one before it
  // belongs to the user-info.
  const std::int32_t x = Posn(":", Authority, -1);
  const std::int32_t y = Posn("@", Authority, -1);
  Bracketed = SplitBracketed(Authority, static_cast<size_t>(y), Host, Port);
  if (!Bracketed) {
    if (x == 0 && y == 0) {
      Host = Authority;
      return;
    }
    if (x > y) {
      Port = Tail(Authority, static_cast<size_t>(x));
      Host = Authority.substr(static_cast<size_t>(y), static_cast<size_t>(x - 1 - y));
    } else {
      Host = Tail(Authority, static_cast<size_t>(y));
    }
  }
  if (y == 0) return;
  SplitUserInfo(Authority.substr(0, static_cast<size_t>(y - 1)), User, Pass);
}

void Split(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
           std::string& Host, std::string& Port, std::string& Path, bool& Bracketed) {
  Bracketed = false;
  Proto.clear();
  User.clear();
  Pass.clear();
  Host.clear();
  Port.clear();
  Path.clear();
  if (URL.empty()) return;

  size_t k;  // characters before the part still to split
  const size_t sep = URL.find("://");
  if (sep != std::string::npos) {
    Proto = URL.substr(0, sep);
    k = sep + 3;
  } else if (URL[0] == '/') {
    Proto = "http";
    k = 1;
    if (URL.size() > 1 && URL[1] != '/') {
      Path = URL;
      return;
    }
  } else if (StartsWithNoCase(URL, "http:")) {
    Proto = "http";
    k = 6;
    if (URL.size() > 6 && URL[6] != '/') {
      Path = URL.substr(5);
      return;
    }
  } else if (StartsWithNoCase(URL, "mailto:")) {
    Proto = "mailto";
    k = 7;
  } else {
    k = 0;
  }

  const std::string rest = Tail(URL, k);
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    SplitAuthority(rest, User, Pass, Host, Port, Bracketed);
  } else {
    Path = rest.substr(slash);
    SplitAuthority(rest.substr(0, slash), User, Pass, Host, Port, Bracketed);
  }
}

}  // namespace

void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
  // The outputs are cleared first, so a URL that is also an output must be read from a copy.
  const std::string* outs[] = {&Proto, &User, &Pass, &Host, &Port, &Path};
  bool bracketed;
  if (std::find(std::begin(outs), std::end(outs), &URL) != std::end(outs)) {
    const std::string copy = URL;
    Split(copy, Proto, User, Pass, Host, Port, Path, bracketed);
  } else {
    Split(URL, Proto, User, Pass, Host, Port, Path, bracketed);
  }
}

std::int32_t Posn(const std::string& Substr, const std::string& S, std::int32_t Count) {
  // Positions are 32-bit; anything beyond stays at the top of the range, which still reads
  // as "beyond the text" instead of wrapping to a negative position.
  const auto pos = [](std::int64_t p) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(p, INT32_MAX));
  };
  if (Count == 0) return 0;
  if (Count > 0) {
    std::int64_t found = 0;
    if (!Substr.empty()) {
      for (size_t p = S.find(Substr); p != std::string::npos; p = S.find(Substr, p + 1)) {
        if (++found == Count) return pos(static_cast<std::int64_t>(p) + 1);
      }
    }
    return pos(static_cast<std::int64_t>(S.size()) + (Count - found));
  }
  if (Substr.empty() || Substr.size() > S.size()) return 0;
  // rfind gives the last match starting at or before its second argument.
  const std::int64_t wanted = -static_cast<std::int64_t>(Count);
  std::int64_t found = 0;
  for (size_t p = S.rfind(Substr); p != std::string::npos; p = S.rfind(Substr, p - 1)) {
    if (++found == wanted) return pos(static_cast<std::int64_t>(p) + 1);
    if (p == 0) break;
  }
  return 0;
}

namespace {

// No scheme at all means http.
bool IsHttp(const std::string& Scheme) {
  return Scheme.empty() || (Scheme.size() == 4 && StartsWithNoCase(Scheme, "http"));
}

bool IsHttps(const std::string& Scheme) {
  return Scheme.size() == 5 && StartsWithNoCase(Scheme, "https");
}

std::string WithPort(const std::string& Host, const std::string& Port) {
  return Port.empty() ? Host : Host + ":" + Port;
}

const char* SchemeOf(const THttpTarget& T) {
  return T.Tls ? "https" : "http";
}

const char* DefaultPort(bool Tls) {
  return Tls ? "443" : "80";
}

// An address as the target functions read it.
struct TAddress {
  std::string Scheme, User, Pass, Host, Port, Path;
  bool Bracketed = false;

  explicit TAddress(const std::string& URL) {
    Split(URL, Scheme, User, Pass, Host, Port, Path, Bracketed);
  }
  // The host as the "Host: " line and an absolute address name it: an IPv6 literal keeps
  // its brackets there.
  std::string Named() const { return Bracketed ? "[" + Host + "]" : Host; }
  // A request-target starts with "/", also where the address gave a bare "http:page.htm".
  std::string RootedPath() const { return Path.empty() || Path[0] == '/' ? Path : "/" + Path; }
};

constexpr const char* ControlRefusal = "control characters in the address";

// C0 controls and DEL end or split the request's lines wherever they land.
bool HasControl(const std::string& S) {
  return std::any_of(S.begin(), S.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

bool IsHostName(const TAddress& A) {
  const std::string& h = A.Host;
  if (A.Bracketed) {
    // An IPv6 literal: hexadecimal groups and colons, an IPv4 tail with dots.
    return h.find(':') != std::string::npos && std::all_of(h.begin(), h.end(), [](char c) {
             return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                    c == ':' || c == '.';
           });
  }
  return !h.empty() && std::all_of(h.begin(), h.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '_' || c == '.';
  });
}

// Blanks would split the request line, and bytes beyond ASCII have no place in it: both go
// as "%" escapes, as browsers send them. Existing escapes stay as they are.
std::string Escaped(const std::string& S) {
  const auto plain = [](char c) { return c != ' ' && static_cast<unsigned char>(c) < 0x80; };
  if (std::all_of(S.begin(), S.end(), plain)) return S;
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(S.size() + 16);
  for (const char c : S) {
    if (plain(c)) {
      out.push_back(c);
    } else {
      const auto b = static_cast<unsigned char>(c);
      out.append({'%', hex[b >> 4], hex[b & 15]});
    }
  }
  return out;
}

// What reaches a request or CONNECT line made safe to send.
THttpTarget Sendable(THttpTarget T) {
  T.RequestPath = Escaped(T.RequestPath);
  T.Tunnel = Escaped(T.Tunnel);
  return T;
}

THttpTarget FirstTarget(const std::string& URL, const std::string& Proxy,
                        const std::string& ProxyPort) {
  THttpTarget t;
  const TAddress a(URL);
  t.Tls = IsHttps(a.Scheme);
  if (!IsHttp(a.Scheme) && !t.Tls) t.Refusal = "unsupported protocol: " + a.Scheme;
  // No host at all is left to the name look-up, which refuses it.
  if (t.Refusal.empty() && !a.Host.empty() && !IsHostName(a))
    t.Refusal = "not a host name: " + a.Named();
  t.TargetHost = a.Named();
  t.User = a.User;
  t.Password = a.Pass;
  t.Authority = WithPort(t.TargetHost, a.Port);
  t.Path = a.Path;
  std::string port = a.Port;
  t.ConnectHost = a.Host;
  if (!Proxy.empty()) {
    if (t.Tls) {
      // The proxy only opens the tunnel; the request inside it is the server's own.
      t.Tunnel = t.TargetHost + ":" + (a.Port.empty() ? DefaultPort(true) : a.Port);
      t.RequestPath = a.RootedPath();
    } else {
      // The proxy fetches what the request-URI names: a port of URL must stay in it.
      t.RequestPath = (a.Scheme.empty() ? std::string("http") : a.Scheme) + "://" + t.Authority +
                      a.RootedPath();
    }
    const TAddress proxy(Proxy);
    if (t.Refusal.empty() && !IsHttp(proxy.Scheme))
      t.Refusal = "unsupported proxy protocol: " + proxy.Scheme;
    port = proxy.Port.empty() ? ProxyPort : proxy.Port;
    t.ConnectHost = proxy.Host;
  } else {
    t.RequestPath = a.RootedPath();
    if (port.empty()) port = DefaultPort(t.Tls);
  }
  // Not assigned from a literal: GCC 12 then warns of an overlapping copy that cannot occur.
  if (t.RequestPath.empty()) t.RequestPath.push_back('/');
  t.ConnectPort = port;
  return t;
}

THttpTarget Relocated(const THttpTarget& Current, const std::string& Location, bool ViaProxy) {
  THttpTarget t = Current;
  t.Refusal.clear();
  // Inside a tunnel the server itself is spoken to, as without a proxy.
  const bool proxyUri = ViaProxy && Current.Tunnel.empty();
  if (!Location.empty() && Location[0] == '/') {
    // A path on the same server, whatever "://" its query may hold.
    if (!proxyUri) {
      t.RequestPath = Location;
      return t;
    }
    if (Location.size() == 1 || Location[1] != '/') {
      t.RequestPath = std::string(SchemeOf(Current)) + "://" + Current.Authority + Location;
      return t;
    }
  }
  const TAddress a(Location);
  const bool tls = IsHttps(a.Scheme);
  if (!IsHttp(a.Scheme) && !tls) {
    t.Refusal = "unsupported protocol: " + a.Scheme;
    return t;
  }
  if (a.Path.empty() || a.Host.empty()) {
    // A bare document name (which the splitter gives as a host), or a path with a scheme
    // but no host: the same server, spoken to as before.
    const std::string doc = a.Path.empty() ? "/" + a.Named() : a.RootedPath();
    if (ViaProxy) {
      t.RequestPath =
          proxyUri ? std::string(SchemeOf(Current)) + "://" + Current.Authority + doc : doc;
      return t;
    }
    if (!a.Port.empty()) t.ConnectPort = a.Port;
    t.RequestPath = std::string(SchemeOf(Current)) + "://" + Current.TargetHost + doc;
    return t;
  }
  if (!IsHostName(a)) {
    t.Refusal = "not a host name: " + a.Named();
    return t;
  }
  // Another server, or another scheme: a port of the old one means nothing there.
  t.Tls = tls;
  t.TargetHost = a.Named();
  t.Authority = WithPort(t.TargetHost, a.Port);
  if (ViaProxy) {
    t.Tunnel =
        tls ? t.TargetHost + ":" + (a.Port.empty() ? DefaultPort(true) : a.Port) : std::string();
    t.RequestPath = tls ? a.Path : Location;
    return t;
  }
  t.ConnectHost = a.Host;
  t.ConnectPort = a.Port.empty() ? DefaultPort(tls) : a.Port;
  t.RequestPath = a.Path;
  return t;
}

}  // namespace

THttpTarget RequestTarget(const std::string& URL, const std::string& Proxy,
                          const std::string& ProxyPort) {
  // An application's URL is no more trusted than a server's location: THttpCli is public.
  if (HasControl(URL)) {
    THttpTarget t;
    t.Refusal = ControlRefusal;
    return t;
  }
  return Sendable(FirstTarget(URL, Proxy, ProxyPort));
}

THttpTarget RelocationTarget(const THttpTarget& Current, const std::string& Location,
                             bool ViaProxy) {
  if (HasControl(Location)) {
    THttpTarget t = Current;
    t.Refusal = ControlRefusal;
    return t;
  }
  return Sendable(Relocated(Current, Location, ViaProxy));
}

std::string BareHost(const std::string& Host) {
  if (Host.size() >= 2 && Host.front() == '[' && Host.back() == ']')
    return Host.substr(1, Host.size() - 2);
  return Host;
}

std::string DocumentName(const std::string& Path) {
  // The query is no part of the name, whatever slashes it holds.
  std::string name = Path.substr(0, Path.find('?'));
  if (!name.empty() && name.back() == '/') name.pop_back();
  const std::int32_t slash = Posn("/", name, -1);
  if (slash > 0) name.erase(0, static_cast<std::size_t>(slash));
  if (name.size() > 255) name.resize(255);
  return name.empty() ? std::string("document.htm") : name;
}
