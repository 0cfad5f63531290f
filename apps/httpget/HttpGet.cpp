// httpget: fetches one http or https URL with THttpCli and writes the body to a file or
// to standard output; the status line (and, asked, every response header line) goes to
// standard error.
// Exits 0 for a status below 400, 1 for a failed request, 2 for a bad command line.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpProt.h"

namespace {

constexpr const char* Usage =
    "usage: httpget URL [-o FILE] [--head] [--post-file FILE] [--content-type TYPE]\n"
    "               [--proxy HOST[:PORT]] [--user NAME:PASSWORD]\n"
    "               [--proxy-user NAME:PASSWORD] [--agent TEXT] [--verbose]\n"
    "               [--timeout SECONDS] [--max-redirs N] [--ca-file FILE] [--insecure]\n"
    "               [--speed-limit BYTES --speed-time SECONDS] [--max-time SECONDS]\n";

struct Options {
  std::string Url;
  std::string Output;
  bool Head = false;
  std::string PostFile;
  std::string ContentType;
  bool HasContentType = false;
  std::string Proxy;
  std::string User;
  std::string ProxyUser;
  std::string Agent;
  bool Verbose = false;
  // 0: no time-out.
  std::int32_t Timeout = 0;
  std::int32_t MaxRedirs = 20;
  // 0: no bound. Either of the speed pair alone takes the other's default, as curl's do.
  std::int32_t SpeedLimit = 0;
  std::int32_t SpeedTime = 0;
  std::int32_t MaxTime = 0;
  // Trusted authorities for https instead of the system's.
  std::string CAFile;
  bool Insecure = false;
};

// Standard output as a stream: every byte written, or an error raised.
class TStdoutStream : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* Buf, std::int32_t Count) override {
    const char* p = static_cast<const char*>(Buf);
    std::int32_t left = Count;
    while (left > 0) {
      const ssize_t n = ::write(STDOUT_FILENO, p, static_cast<size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EWriteError(std::string("standard output: ") + std::strerror(errno));
      p += n;
      left -= static_cast<std::int32_t>(n);
    }
    return Count;
  }
  std::int64_t Seek(std::int64_t, int) override { return 0; }
};

// A whole number from 0 to 1,000,000,000, digits only.
bool ParseCount(const std::string& Text, std::int32_t& Value) {
  if (Text.empty() || Text.size() > 10) return false;
  std::int64_t v = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 1000000000) return false;
  Value = static_cast<std::int32_t>(v);
  return true;
}

// False, with the reason in Error, for a command line that does not fit the usage.
bool ParseArgs(int argc, char** argv, Options& O, std::string& Error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& Into) {
      if (i + 1 >= argc) {
        Error = a + " needs a value";
        return false;
      }
      Into = argv[++i];
      return true;
    };
    if (a == "-o") {
      if (!value(O.Output)) return false;
    } else if (a == "--head") {
      O.Head = true;
    } else if (a == "--post-file") {
      if (!value(O.PostFile)) return false;
    } else if (a == "--content-type") {
      if (!value(O.ContentType)) return false;
      O.HasContentType = true;
    } else if (a == "--proxy") {
      if (!value(O.Proxy)) return false;
    } else if (a == "--user") {
      if (!value(O.User)) return false;
    } else if (a == "--proxy-user") {
      if (!value(O.ProxyUser)) return false;
    } else if (a == "--agent") {
      if (!value(O.Agent)) return false;
    } else if (a == "--verbose") {
      O.Verbose = true;
    } else if (a == "--ca-file") {
      if (!value(O.CAFile)) return false;
    } else if (a == "--insecure") {
      O.Insecure = true;
    } else if (a == "--timeout" || a == "--max-redirs" || a == "--speed-limit" ||
               a == "--speed-time" || a == "--max-time") {
      std::string text;
      if (!value(text)) return false;
      std::int32_t& into = a == "--timeout"       ? O.Timeout
                           : a == "--max-redirs"  ? O.MaxRedirs
                           : a == "--speed-limit" ? O.SpeedLimit
                           : a == "--speed-time"  ? O.SpeedTime
                                                  : O.MaxTime;
      if (!ParseCount(text, into)) {
        Error = a + " needs a whole number, not \"" + text + "\"";
        return false;
      }
    } else if (!a.empty() && a[0] == '-') {
      Error = "unknown option " + a;
      return false;
    } else if (O.Url.empty()) {
      O.Url = a;
    } else {
      Error = "more than one URL";
      return false;
    }
  }
  if (O.Url.empty()) {
    Error = "no URL";
    return false;
  }
  if (O.Head && !O.PostFile.empty()) {
    Error = "--head and --post-file exclude each other";
    return false;
  }
  return true;
}

// "NAME:PASSWORD" split at its first colon; a password may hold colons.
void SplitCredentials(const std::string& Text, std::string& Name, std::string& Password) {
  const std::size_t colon = Text.find(':');
  Name = Text.substr(0, colon);
  Password = colon == std::string::npos ? "" : Text.substr(colon + 1);
}

int Fetch(const Options& O) {
  THttpCli http(nullptr);
  http.SetURL(O.Url);
  if (!O.Agent.empty()) http.SetAgent(O.Agent);
  if (!O.Proxy.empty()) http.SetProxy(O.Proxy);
  std::string name, password;
  if (!O.User.empty()) {
    SplitCredentials(O.User, name, password);
    http.SetUsername(name);
    http.SetPassword(password);
  }
  if (!O.ProxyUser.empty()) {
    SplitCredentials(O.ProxyUser, name, password);
    http.SetProxyUsername(name);
    http.SetProxyPassword(password);
  }
  if (O.HasContentType) http.SetContentTypePost(O.ContentType);
  http.SetTimeout(O.Timeout);
  http.SetMaxRelocations(O.MaxRedirs);
  if (O.SpeedLimit > 0 || O.SpeedTime > 0) {
    http.SetLowSpeedLimit(O.SpeedLimit > 0 ? O.SpeedLimit : 1);
    http.SetLowSpeedTime(O.SpeedTime > 0 ? O.SpeedTime : 30);
  }
  http.SetMaxTime(O.MaxTime);
  if (!O.CAFile.empty()) http.SetSslCAFile(O.CAFile);
  if (O.Insecure) {
    http.SetSslUnsafeSkipVerify(true);
    std::fprintf(stderr, "httpget: --insecure: no certificate is checked\n");
  }
  if (O.Verbose) {
    http.OnHeaderData = [&http](TObject*) {
      const TStringList& lines = *http.HeaderLines();
      std::fprintf(stderr, "%s\n", lines.Strings(lines.Count() - 1).c_str());
    };
  }

  std::unique_ptr<TStream> body;
  std::unique_ptr<TStream> post;
  try {
    if (O.Output.empty())
      body = std::make_unique<TStdoutStream>();
    else
      body = std::make_unique<TFileStream>(O.Output, fmCreate);
    if (!O.PostFile.empty()) post = std::make_unique<TFileStream>(O.PostFile, fmOpenRead);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "httpget: %s\n", e.what());
    return 1;
  }
  http.SetRcvdStream(body.get());
  http.SetSendStream(post.get());

  bool failed = false;
  try {
    if (post)
      http.Post();
    else if (O.Head)
      http.Head();
    else
      http.Get();
  } catch (const EHttpException&) {
    failed = true;  // the status line below says why
  } catch (const std::exception& e) {
    std::fprintf(stderr, "httpget: %s\n", e.what());
    return 1;
  }
  // A reply without header has no status line to show.
  if (http.StatusCode() != 0)
    std::fprintf(stderr, "%d %s\n", http.StatusCode(), http.ReasonPhrase().c_str());
  if (failed || http.StatusCode() >= 400) {
    std::fprintf(stderr, "httpget: %s: %s\n", O.Url.c_str(), http.ReasonPhrase().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseArgs(argc, argv, options, error)) {
    std::fprintf(stderr, "httpget: %s\n%s", error.c_str(), Usage);
    return 2;
  }
  return Fetch(options);
}
