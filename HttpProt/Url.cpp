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

void SplitAuthority(const std::string& Authority, std::string& User, std::string& Pass,
                    std::string& Host, std::string& Port) {
  // The last ':' and '@' decide: a colon after the last '@' starts the port, one before it
  // belongs to the user-info.
  const std::int32_t x = Posn(":", Authority, -1);
  const std::int32_t y = Posn("@", Authority, -1);
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
  if (y == 0) return;
  std::string userInfo = Authority.substr(0, static_cast<size_t>(y - 1));
  const size_t colon = userInfo.find(':');
  if (colon == std::string::npos) {
    User = std::move(userInfo);
  } else {
    User = userInfo.substr(0, colon);
    Pass = userInfo.substr(colon + 1);
  }
}

void Split(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
           std::string& Host, std::string& Port, std::string& Path) {
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
    SplitAuthority(rest, User, Pass, Host, Port);
  } else {
    Path = rest.substr(slash);
    SplitAuthority(rest.substr(0, slash), User, Pass, Host, Port);
  }
}

}  // namespace

void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
  // The outputs are cleared first, so a URL that is also an output must be read from a copy.
  const std::string* outs[] = {&Proto, &User, &Pass, &Host, &Port, &Path};
  if (std::find(std::begin(outs), std::end(outs), &URL) != std::end(outs)) {
    const std::string copy = URL;
    Split(copy, Proto, User, Pass, Host, Port, Path);
  } else {
    Split(URL, Proto, User, Pass, Host, Port, Path);
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

// The client speaks plain HTTP only; no scheme at all means it.
bool IsHttp(const std::string& Scheme) {
  return Scheme.empty() || (Scheme.size() == 4 && StartsWithNoCase(Scheme, "http"));
}

std::string WithPort(const std::string& Host, const std::string& Port) {
  return Port.empty() ? Host : Host + ":" + Port;
}

}  // namespace

THttpTarget RequestTarget(const std::string& URL, const std::string& Proxy,
                          const std::string& ProxyPort) {
  THttpTarget t;
  std::string s, u, w, h, p, q;
  ParseURL(URL, s, u, w, h, p, q);
  if (!IsHttp(s)) t.Refusal = "unsupported protocol: " + s;
  t.TargetHost = h;
  t.User = u;
  t.Password = w;
  t.Authority = WithPort(h, p);
  t.Path = q;
  if (!Proxy.empty()) {
    // The proxy fetches what the request-URI names: a port of URL must stay in it.
    t.RequestPath = (s.empty() ? std::string("http") : s) + "://" + t.Authority + q;
    ParseURL(Proxy, s, u, w, h, p, q);
    if (t.Refusal.empty() && !IsHttp(s)) t.Refusal = "unsupported proxy protocol: " + s;
    if (p.empty()) p = ProxyPort;
  } else {
    t.RequestPath = q;
    if (p.empty()) p = "80";
  }
  // Not assigned from a literal: GCC 12 then warns of an overlapping copy that cannot occur.
  if (t.RequestPath.empty()) t.RequestPath.push_back('/');
  t.ConnectHost = h;
  t.ConnectPort = p;
  return t;
}

THttpTarget RelocationTarget(const THttpTarget& Current, const std::string& Location,
                             bool ViaProxy) {
  THttpTarget t = Current;
  t.Refusal.clear();
  if (!Location.empty() && Location[0] == '/') {
    // A path on the same server, whatever "://" its query may hold.
    if (!ViaProxy) {
      t.RequestPath = Location;
      return t;
    }
    if (Location.size() == 1 || Location[1] != '/') {
      t.RequestPath = "http://" + Current.Authority + Location;
      return t;
    }
  }
  std::string s, u, w, h, p, q;
  ParseURL(Location, s, u, w, h, p, q);
  if (!IsHttp(s)) {
    t.Refusal = "unsupported protocol: " + s;
    return t;
  }
  if (s.empty()) s = "http";
  if (ViaProxy) {
    // Relative forms name the document's server, port included, as the proxy needs it.
    if (q.empty()) {
      t.RequestPath = s + "://" + Current.Authority + "/" + h;
    } else if (h.empty()) {
      t.RequestPath = s + "://" + Current.Authority + q;
    } else {
      t.RequestPath = Location;
      t.TargetHost = h;
      t.Authority = WithPort(h, p);
    }
    return t;
  }
  if (!p.empty()) t.ConnectPort = p;
  if (q.empty()) {
    // A bare document name comes back from the splitter as a host.
    t.RequestPath = s + "://" + Current.TargetHost + "/" + h;
  } else if (h.empty()) {
    t.RequestPath = s + "://" + Current.TargetHost + q;
  } else {
    // Another server: a port of the old one means nothing there.
    if (p.empty()) t.ConnectPort = "80";
    t.ConnectHost = h;
    t.TargetHost = h;
    t.Authority = WithPort(h, p);
    t.RequestPath = q;
  }
  return t;
}

std::string DocumentName(const std::string& Path) {
  std::string name = Path;
  if (!name.empty() && name.back() == '/') name.pop_back();
  const std::int32_t slash = Posn("/", name, -1);
  if (slash > 0) name.erase(0, static_cast<std::size_t>(slash));
  if (name.size() > 255) name.resize(255);
  if (const std::size_t query = name.find('?'); query != std::string::npos) name.erase(query);
  return name.empty() ? std::string("document.htm") : name;
}
