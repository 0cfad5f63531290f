#include "HttpProt/Url.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Parts {
  std::string Proto, User, Pass, Host, Port, Path;
  bool operator==(const Parts&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Parts& p) {
  return os << "{proto '" << p.Proto << "' user '" << p.User << "' pass '" << p.Pass << "' host '"
            << p.Host << "' port '" << p.Port << "' path '" << p.Path << "'}";
}

Parts Parse(const std::string& url) {
  // Filled with junk so that an output the parser forgets to write shows up.
  Parts p{"?", "?", "?", "?", "?", "?"};
  ParseURL(url, p.Proto, p.User, p.Pass, p.Host, p.Port, p.Path);
  return p;
}

TEST(ParseURLTest, TypicalAndOddUrls) {
  const std::pair<const char*, Parts> cases[] = {
      {"", {}},
      {"http://host:8080/dir/page.htm?x=1", {"http", "", "", "host", "8080", "/dir/page.htm?x=1"}},
      {"HTTP://host", {"HTTP", "", "", "host", "", ""}},
      {"host/dir", {"", "", "", "host", "", "/dir"}},
      {"/dir/page.htm", {"http", "", "", "", "", "/dir/page.htm"}},
      {"/", {"http", "", "", "", "", ""}},
      {"//host/dir", {"http", "", "", "", "", "/host/dir"}},
      {"http:page.htm", {"http", "", "", "", "", "page.htm"}},
      {"HtTp:page.htm", {"http", "", "", "", "", "page.htm"}},
      {"http:/dir", {"http", "", "", "", "", "/dir"}},
      {"http:a/b", {"http", "", "", "", "", "/b"}},
      {"http:", {"http", "", "", "", "", ""}},
      {"http:x", {"http", "", "", "", "", ""}},
      {"/a?u=ftp://b", {"/a?u=ftp", "", "", "b", "", ""}},
      {"host:", {"", "", "", "host", "", ""}},
      {"x:y", {"", "", "", "x", "y", ""}},
      {"://", {"", "", "", "", "", ""}},
      {"ftp://h/a#frag%20x", {"ftp", "", "", "h", "", "/a#frag%20x"}},
  };
  for (const auto& [url, want] : cases) EXPECT_EQ(Parse(url), want) << url;
}

TEST(ParseURLTest, UserInfoAndPort) {
  const std::pair<const char*, Parts> cases[] = {
      {"http://user:pw@host:81/x", {"http", "user", "pw", "host", "81", "/x"}},
      // Later colons of the user-info stay in the password.
      {"http://user:pa:ss@host/", {"http", "user", "pa:ss", "host", "", "/"}},
      {"http://user:pa:ss@host:99", {"http", "user", "pa:ss", "host", "99", ""}},
      {"http://@host/", {"http", "", "", "host", "", "/"}},
      {"http://user@host", {"http", "user", "", "host", "", ""}},
      // Only the last '@' separates the user-info from the host.
      {"http://a@b@host:1", {"http", "a@b", "", "host", "1", ""}},
      {"http://u:p@", {"http", "u", "p", "", "", ""}},
      {"http://:@h", {"http", "", "", "h", "", ""}},
      {"http://h:p:8", {"http", "", "", "h:p", "8", ""}},
      // An IPv6 literal: its brackets go, its colons stay; only a port after "]:" counts.
      {"http://[::1]:8080/x", {"http", "", "", "::1", "8080", "/x"}},
      {"http://u:p@[fe80::1]/", {"http", "u", "p", "fe80::1", "", "/"}},
      {"[::1]:", {"", "", "", "::1", "", ""}},
      // No closing bracket, or more after it than a port: split as any other authority.
      {"http://[::1/x", {"http", "", "", "[:", "1", "/x"}},
      {"http://[::1]x:80/", {"http", "", "", "[::1]x", "80", "/"}},
  };
  for (const auto& [url, want] : cases) EXPECT_EQ(Parse(url), want) << url;
}

TEST(ParseURLTest, Mailto) {
  EXPECT_EQ(Parse("mailto:john@example.com"), (Parts{"mailto", "john", "", "example.com", "", ""}));
  EXPECT_EQ(Parse("MailTo:john:secret@example.com/x"),
            (Parts{"mailto", "john", "secret", "example.com", "", "/x"}));
  EXPECT_EQ(Parse("mailto:"), (Parts{"mailto", "", "", "", "", ""}));
}

TEST(ParseURLTest, OutputMayBeTheInput) {
  std::string url = "http://u:p@host:8/path";
  std::string proto, user, pass, host, port;
  ParseURL(url, proto, user, pass, host, port, url);
  EXPECT_EQ(url, "/path");
  EXPECT_EQ(host, "host");
  std::string other = "host/dir";
  ParseURL(other, other, user, pass, host, port, proto);
  EXPECT_EQ(other, "");
  EXPECT_EQ(host, "host");
  EXPECT_EQ(proto, "/dir");
}

TEST(PosnTest, CountsFromEitherEnd) {
  EXPECT_EQ(Posn(":", "a:b:c", 1), 2);
  EXPECT_EQ(Posn(":", "a:b:c", 2), 4);
  EXPECT_EQ(Posn(":", "a:b:c", 3), 6);
  EXPECT_EQ(Posn(":", "a:b:c", 5), 8);
  EXPECT_EQ(Posn(":", "a:b:c", -1), 4);
  EXPECT_EQ(Posn(":", "a:b:c", -2), 2);
  EXPECT_EQ(Posn(":", "a:b:c", -3), 0);
  EXPECT_EQ(Posn(":", "a:b:c", 0), 0);
  // Overlapping matches count in both directions.
  EXPECT_EQ(Posn("aa", "aaaa", 2), 2);
  EXPECT_EQ(Posn("aa", "aaaa", 3), 3);
  EXPECT_EQ(Posn("aa", "aaaa", 4), 5);
  EXPECT_EQ(Posn("aa", "aaaa", -1), 3);
  EXPECT_EQ(Posn("aa", "aaaa", -3), 1);
  EXPECT_EQ(Posn("aa", "aaaa", -4), 0);
}

TEST(PosnTest, NothingToFind) {
  EXPECT_EQ(Posn("", "abc", 1), 4);
  EXPECT_EQ(Posn("", "abc", -1), 0);
  EXPECT_EQ(Posn("abcd", "abc", 1), 4);
  EXPECT_EQ(Posn("abcd", "abc", -1), 0);
  EXPECT_EQ(Posn("x", "", 2), 2);
  EXPECT_EQ(Posn("x", "", -1), 0);
  // A huge count stays beyond the text instead of wrapping to a negative position.
  EXPECT_EQ(Posn("x", "abc", INT32_MAX), INT32_MAX);
  EXPECT_EQ(Posn("x", "abc", INT32_MIN), 0);
}

// Straight from the definition: every start position of a match, in order.
std::int32_t NaivePosn(const std::string& s, const std::string& t, std::int32_t n) {
  std::vector<std::int32_t> starts;
  if (!s.empty())
    for (size_t i = 0; i + s.size() <= t.size(); ++i)
      if (t.compare(i, s.size(), s) == 0) starts.push_back(static_cast<std::int32_t>(i + 1));
  const auto found = static_cast<std::int32_t>(starts.size());
  if (n == 0) return 0;
  if (n > 0)
    return n <= found ? starts[static_cast<size_t>(n - 1)]
                      : static_cast<std::int32_t>(t.size()) + n - found;
  return -n <= found ? starts[static_cast<size_t>(found + n)] : 0;
}

TEST(PosnTest, AgreesWithDefinitionOnRandomText) {
  std::mt19937 rng(4242);
  for (int i = 0; i < 3000; ++i) {
    std::string t(rng() % 12, 'a'), s(1 + rng() % 3, 'a');
    for (char& c : t) c = "ab:"[rng() % 3];
    for (char& c : s) c = "ab:"[rng() % 3];
    const auto n = static_cast<std::int32_t>(rng() % 9) - 4;
    ASSERT_EQ(Posn(s, t, n), NaivePosn(s, t, n)) << s << " in " << t << " n=" << n;
  }
}

// Random bytes, rich in the separators: nothing is read past the text (run under ASan), and
// every part is a piece of the URL.
TEST(ParseURLTest, RandomBytesStayInBounds) {
  std::mt19937 rng(99);
  const std::string pieces[] = {
      ":", "/", "@", "//", "://", "http:", "HTTP:", "mailto:", "a", "\xff", std::string(1, '\0')};
  for (int i = 0; i < 5000; ++i) {
    std::string url;
    const int count = static_cast<int>(rng() % 8);
    for (int j = 0; j < count; ++j) {
      if (rng() % 3 == 0)
        url += static_cast<char>(rng() & 0xFF);
      else
        url += pieces[rng() % std::size(pieces)];
    }
    const Parts p = Parse(url);
    for (const std::string* part : {&p.Proto, &p.User, &p.Pass, &p.Host, &p.Port, &p.Path}) {
      if (*part != "http" && *part != "mailto") {
        ASSERT_NE(url.find(*part), std::string::npos) << testing::PrintToString(url);
      }
    }
    for (std::int32_t n : {-2, -1, 1, 2}) {
      const std::int32_t pos = Posn(":", url, n);
      ASSERT_GE(pos, 0);
      if (n < 0) {
        ASSERT_LE(pos, static_cast<std::int32_t>(url.size()));
      }
    }
  }
}

}  // namespace

namespace {

// The target fields a request depends on, as one line for the tables ("tls" and the
// tunnel only when https).
std::string Show(const THttpTarget& t) {
  if (!t.Refusal.empty()) return "refused " + t.Refusal;
  std::string line =
      std::string(t.Tls ? "tls " : "") + "connect " + t.ConnectHost + ":" + t.ConnectPort;
  if (!t.Tunnel.empty()) line += " tunnel " + t.Tunnel;
  return line + " host " + t.TargetHost + " authority " + t.Authority + " uri " + t.RequestPath;
}

TEST(HttpTargetTest, TheFirstRequestGoesWhereUrlAndProxySay) {
  struct Case {
    const char* Url;
    const char* Proxy;
    const char* Want;
  };
  const Case cases[] = {
      {"http://host/dir/page.htm?x=1", "",
       "connect host:80 host host authority host uri /dir/page.htm?x=1"},
      {"http://host:8080", "", "connect host:8080 host host authority host:8080 uri /"},
      {"HTTP://u:p@host:81/x", "", "connect host:81 host host authority host:81 uri /x"},
      {"host/dir", "", "connect host:80 host host authority host uri /dir"},
      // Through a proxy the request-URI is absolute, the port of URL kept in it.
      {"http://host:81/x", "proxy",
       "connect proxy:3128 host host authority host:81 uri http://host:81/x"},
      {"host/x", "http://proxy:8000",
       "connect proxy:8000 host host authority host uri http://host/x"},
      {"http://host", "proxy:1", "connect proxy:1 host host authority host uri http://host"},
      // https: port 443 unless named; through a proxy in a tunnel to the server's host and
      // port, the request-URI then being the server's own path.
      {"https://host/x", "", "tls connect host:443 host host authority host uri /x"},
      {"HTTPS://host:8443", "", "tls connect host:8443 host host authority host:8443 uri /"},
      {"https://host/x?y", "proxy",
       "tls connect proxy:3128 tunnel host:443 host host authority host uri /x?y"},
      {"https://u:p@host:8443/x", "http://proxy:8000",
       "tls connect proxy:8000 tunnel host:8443 host host authority host:8443 uri /x"},
      // Nothing else is spoken; a proxy is spoken to in http only.
      {"ftp://host/x", "", "refused unsupported protocol: ftp"},
      {"httpx://host/x", "", "refused unsupported protocol: httpx"},
      {"http://host/x", "https://proxy", "refused unsupported proxy protocol: https"},
      {"mailto:me@host", "", "refused unsupported protocol: mailto"},
      {"http://host/", "socks5://proxy:1080", "refused unsupported proxy protocol: socks5"},
      // Blanks and bytes beyond ASCII are sent escaped, escapes as they are.
      {"http://host/a b?c d", "", "connect host:80 host host authority host uri /a%20b?c%20d"},
      {"http://host/caf\xc3\xa9%20x", "",
       "connect host:80 host host authority host uri /caf%C3%A9%20x"},
      {"http://host:81/a b", "proxy",
       "connect proxy:3128 host host authority host:81 uri http://host:81/a%20b"},
      // Control characters would end or split the request's lines; a host is a host name.
      {"http://host/a\r\nX-Injected: 1", "", "refused control characters in the address"},
      {"http://host\rX: 1/a", "proxy", "refused control characters in the address"},
      {"http://host/\x7f", "", "refused control characters in the address"},
      {"http://host/\t", "", "refused control characters in the address"},
      {"http://ev il/x", "", "refused not a host name: ev il"},
      {"http://h\xc3\xa9/x", "", "refused not a host name: h\xc3\xa9"},
      {"http://[::g]/x", "", "refused not a host name: [::g]"},
      {"http://h:p:8/", "", "refused not a host name: h:p"},
      {"http://my_host-2.example/", "",
       "connect my_host-2.example:80 host my_host-2.example "
       "authority my_host-2.example uri /"},
      // An IPv6 literal is connected to bare, named in brackets.
      {"http://[::1]:8080/x", "", "connect ::1:8080 host [::1] authority [::1]:8080 uri /x"},
      {"http://[::ffff:127.0.0.1]/", "proxy",
       "connect proxy:3128 host [::ffff:127.0.0.1] authority [::ffff:127.0.0.1] uri "
       "http://[::ffff:127.0.0.1]/"},
      {"https://[::1]/x", "proxy",
       "tls connect proxy:3128 tunnel [::1]:443 host [::1] authority [::1] uri /x"},
      // A path without its leading "/" gets it.
      {"http:page.htm", "", "connect :80 host  authority  uri /page.htm"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Show(RequestTarget(c.Url, c.Proxy, "3128")), c.Want) << c.Url << " via " << c.Proxy;
  const THttpTarget t = RequestTarget("http://me:se:cret@host/a/b.htm", "", "80");
  EXPECT_EQ(t.User, "me");
  EXPECT_EQ(t.Password, "se:cret");
  EXPECT_EQ(t.Path, "/a/b.htm");
  // The document's name is taken from the path as it was written.
  EXPECT_EQ(RequestTarget("http://host/a b", "", "80").Path, "/a b");
  EXPECT_EQ(BareHost("[::1]"), "::1");
  EXPECT_EQ(BareHost("host"), "host");
}

TEST(HttpTargetTest, ARelocationGoesWhereTheLocationSays) {
  const THttpTarget direct = RequestTarget("http://host:81/dir/page.htm", "", "80");
  const THttpTarget proxied = RequestTarget("http://host:81/dir/page.htm", "proxy", "3128");
  const THttpTarget secure = RequestTarget("https://host:8443/dir/page.htm", "", "80");
  const THttpTarget tunnelled = RequestTarget("https://host/dir/page.htm", "proxy", "3128");
  struct Case {
    const THttpTarget* From;
    bool ViaProxy;
    const char* Location;
    const char* Want;
  };
  const Case cases[] = {
      // A path on the same server, whatever its query holds.
      {&direct, false, "/other.htm", "connect host:81 host host authority host:81 uri /other.htm"},
      {&direct, false, "/a?u=ftp://b",
       "connect host:81 host host authority host:81 uri /a?u=ftp://b"},
      // A bare document name, and a scheme without a host: the same server.
      {&direct, false, "page2.htm",
       "connect host:81 host host authority host:81 uri http://host/page2.htm"},
      {&direct, false, "http:/x", "connect host:81 host host authority host:81 uri http://host/x"},
      // Another server: its port, or 80, never the old one's.
      {&direct, false, "http://other/y", "connect other:80 host other authority other uri /y"},
      {&direct, false, "http://u:p@other:82/y",
       "connect other:82 host other authority other:82 uri /y"},
      // Through a proxy the server stays the proxy; the request-URI names the document.
      {&proxied, true, "/other.htm",
       "connect proxy:3128 host host authority host:81 uri http://host:81/other.htm"},
      {&proxied, true, "/a?u=ftp://b",
       "connect proxy:3128 host host authority host:81 uri http://host:81/a?u=ftp://b"},
      {&proxied, true, "page2.htm",
       "connect proxy:3128 host host authority host:81 uri http://host:81/page2.htm"},
      {&proxied, true, "http://other:82/y",
       "connect proxy:3128 host other authority other:82 uri http://other:82/y"},
      // Up to https: the port named, or 443; through a proxy, a tunnel to that server.
      {&direct, false, "https://host/x", "tls connect host:443 host host authority host uri /x"},
      {&direct, false, "HTTPS://other:8443/x",
       "tls connect other:8443 host other authority other:8443 uri /x"},
      {&proxied, true, "https://other/x",
       "tls connect proxy:3128 tunnel other:443 host other authority other uri /x"},
      // From https, relative forms stay on the same server and scheme; inside a tunnel the
      // request-URI stays the path.
      {&secure, false, "/other.htm",
       "tls connect host:8443 host host authority host:8443 uri /other.htm"},
      {&secure, false, "page2.htm",
       "tls connect host:8443 host host authority host:8443 uri https://host/page2.htm"},
      {&tunnelled, true, "/other.htm",
       "tls connect proxy:3128 tunnel host:443 host host authority host uri /other.htm"},
      {&tunnelled, true, "page2.htm",
       "tls connect proxy:3128 tunnel host:443 host host authority host uri /page2.htm"},
      {&tunnelled, true, "https://other:8443/y",
       "tls connect proxy:3128 tunnel other:8443 host other authority other:8443 uri /y"},
      // Down to http: a plain target (whether to go there is the client's decision), port
      // 80, and through a proxy no tunnel.
      {&secure, false, "http://host/x", "connect host:80 host host authority host uri /x"},
      {&tunnelled, true, "http://other/y",
       "connect proxy:3128 host other authority other uri http://other/y"},
      // A scheme the client does not speak is not followed as http.
      {&direct, false, "httpx://host/x", "refused unsupported protocol: httpx"},
      {&secure, false, "ftp://host/x", "refused unsupported protocol: ftp"},
      {&proxied, true, "ftp://host/x", "refused unsupported protocol: ftp"},
      // What a location could write into the next request: no line of its own, no second
      // header, no blank that splits the request line.
      {&direct, false, "/a\rX-Injected: 1", "refused control characters in the address"},
      {&direct, false, "http://evil\rX-Injected: 1/x", "refused control characters in the address"},
      {&proxied, true, "/a\x01", "refused control characters in the address"},
      {&tunnelled, true, "page\x7f.htm", "refused control characters in the address"},
      {&direct, false, "/a b?c d", "connect host:81 host host authority host:81 uri /a%20b?c%20d"},
      {&direct, false, "/caf\xc3\xa9",
       "connect host:81 host host authority host:81 uri /caf%C3%A9"},
      {&direct, false, "/a%20b", "connect host:81 host host authority host:81 uri /a%20b"},
      {&proxied, true, "/a b",
       "connect proxy:3128 host host authority host:81 uri http://host:81/a%20b"},
      {&proxied, true, "http://other/a b",
       "connect proxy:3128 host other authority other uri http://other/a%20b"},
      {&direct, false, "http://ev il/x", "refused not a host name: ev il"},
      {&proxied, true, "http://ev\xc3\xa9/x", "refused not a host name: ev\xc3\xa9"},
      {&direct, false, "http://[::1]:82/y", "connect ::1:82 host [::1] authority [::1]:82 uri /y"},
      {&proxied, true, "https://[::1]/y",
       "tls connect proxy:3128 tunnel [::1]:443 host [::1] authority [::1] uri /y"},
      // A scheme without "//": a path on the same server, with its leading "/".
      {&direct, false, "http:page.htm",
       "connect host:81 host host authority host:81 uri http://host/page.htm"},
      {&proxied, true, "http:page.htm",
       "connect proxy:3128 host host authority host:81 uri http://host:81/page.htm"},
      {&tunnelled, true, "http:page.htm",
       "tls connect proxy:3128 tunnel host:443 host host authority host uri /page.htm"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Show(RelocationTarget(*c.From, c.Location, c.ViaProxy)), c.Want) << c.Location;
  // The document's name comes from URL, whatever a relocation says.
  EXPECT_EQ(RelocationTarget(direct, "http://other/y", false).Path, "/dir/page.htm");
}

TEST(HttpTargetTest, TheDocumentIsNamedAfterTheLastSegment) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "document.htm"},
      {"/", "document.htm"},
      {"/dir/page.htm", "page.htm"},
      {"/dir/", "dir"},
      {"/a/b.cgi?x=1", "b.cgi"},
      {"/?x=1", "document.htm"},
      {"//", "document.htm"},
      // The query is cut before the last segment is looked for.
      {"/dir/page.htm?u=/x/y.htm", "page.htm"},
      {"/a/b.cgi?x=/y", "b.cgi"},
      {"/dir/?x=/y", "dir"},
  };
  for (const auto& [path, want] : cases) EXPECT_EQ(DocumentName(path), want) << path;
  EXPECT_EQ(DocumentName("/" + std::string(300, 'n')).size(), 255u);
}

}  // namespace
