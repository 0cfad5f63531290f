#include "HttpProt/ProxyEnv.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using TEnv = std::map<std::string, std::string>;

TProxySetting For(const std::string& Url, const TEnv& Env) {
  return EnvironmentProxy(Url, [&Env](const char* Name) {
    const auto it = Env.find(Name);
    return it == Env.end() ? std::string() : it->second;
  });
}

TEST(ProxyEnvTest, EachSchemeReadsItsVariablesAsCurlDoes) {
  struct Case {
    const char* url;
    TEnv env;
    const char* proxy;  // "" for a direct connection
  };
  const Case cases[] = {
      {"http://a.test/", {}, ""},
      {"http://a.test/", {{"http_proxy", "p.test:3128"}}, "p.test:3128"},
      {"a.test/x", {{"http_proxy", "p.test:3128"}}, "p.test:3128"},  // no scheme: http
      // The upper-case name can come from a request's "Proxy:" header: never read.
      {"http://a.test/", {{"HTTP_PROXY", "p.test:3128"}}, ""},
      {"https://a.test/", {{"http_proxy", "p.test:3128"}}, ""},
      {"https://a.test/", {{"HTTPS_PROXY", "s.test:8443"}}, "s.test:8443"},
      {"HTTPS://a.test/", {{"https_proxy", "s.test:1"}, {"HTTPS_PROXY", "S.test:2"}}, "s.test:1"},
      {"http://a.test/", {{"all_proxy", "all.test:9"}, {"ALL_PROXY", "ALL.test:8"}}, "all.test:9"},
      {"https://a.test/", {{"ALL_PROXY", "ALL.test:8"}}, "ALL.test:8"},
      {"http://a.test/", {{"http_proxy", ""}, {"all_proxy", "all.test:9"}}, "all.test:9"},
      {"ftp://a.test/", {{"all_proxy", "all.test:9"}}, ""},
      // The written forms of a proxy.
      {"http://a.test/", {{"http_proxy", "http://p.test:3128/"}}, "p.test:3128"},
      {"http://a.test/", {{"http_proxy", " HTTP://p.test "}}, "p.test:1080"},
      {"http://a.test/", {{"http_proxy", "[::1]:3128"}}, "[::1]:3128"},
      {"http://a.test/", {{"http_proxy", "http://[::1]"}}, "[::1]:1080"},
      {"http://a.test/", {{"http_proxy", "socks5://p.test:1080"}}, "socks5://p.test:1080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const TProxySetting p = For(c.url, c.env);
    EXPECT_EQ(p.Proxy, c.proxy) << (c.env.empty() ? "" : c.env.begin()->second);
    EXPECT_EQ(p.Username, "");
  }
}

TEST(ProxyEnvTest, CredentialsInTheProxyAreTheProxysOwn) {
  const TProxySetting p =
      For("http://user:pw@a.test/", {{"http_proxy", "http://p%40x:s%3Ac:ret@p.test:3128"}});
  EXPECT_EQ(p.Proxy, "p.test:3128");
  EXPECT_EQ(p.Username, "p@x");
  EXPECT_EQ(p.Password, "s:c:ret");
  const TProxySetting bare = For("http://a.test/", {{"http_proxy", "only@p.test:1%"}});
  EXPECT_EQ(bare.Username, "only");
  EXPECT_EQ(bare.Password, "");
  EXPECT_EQ(bare.Proxy, "p.test:1%");
}

TEST(ProxyEnvTest, NoProxyNamesHostsDomainsAddressesAndBlocks) {
  struct Case {
    const char* list;
    const char* host;
    bool match;
  };
  const Case cases[] = {
      {"", "a.test", false},
      {"*", "anything.test", true},
      {"a.test,*", "b.test", true},
      {"example.com", "example.com", true},
      {"example.com", "www.EXAMPLE.com.", true},
      {".example.com", "example.com", true},
      {".example.com", "a.b.example.com", true},
      {"example.com", "badexample.com", false},
      {"example.com", "example.com.evil.test", false},
      {" other.test , example.com ", "example.com", true},
      {",,", "example.com", false},
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"127.0.0.0/8", "127.9.9.9", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"0.0.0.0/0", "192.0.2.1", true},
      {"10.0.0.0/33", "10.0.0.1", false},
      {"10.0.0.0/x", "10.0.0.1", false},
      {"::1", "[::1]", true},
      {"[::1]", "::1", true},
      {"2001:db8::/32", "2001:DB8:1::5", true},
      {"2001:db8::/32", "2001:db9::5", false},
      {"2001:db8::/32", "10.0.0.1", false},  // another family
      {"127.0.0.0/8", "localhost", false},   // nothing is looked up
      {"localhost", "127.0.0.1", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NoProxyMatches(c.list, c.host), c.match) << c.list << " / " << c.host;

  // The lower-case list wins; the upper-case one counts when it is the only one.
  EXPECT_EQ(For("http://a.test/", {{"http_proxy", "p:1"}, {"NO_PROXY", "a.test"}}).Proxy, "");
  EXPECT_EQ(
      For("http://a.test/", {{"http_proxy", "p:1"}, {"no_proxy", "b.test"}, {"NO_PROXY", "a.test"}})
          .Proxy,
      "p:1");
  EXPECT_EQ(
      For("http://127.0.0.1:8080/", {{"http_proxy", "p:1"}, {"no_proxy", "127.0.0.0/8"}}).Proxy,
      "");
}

}  // namespace
