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
