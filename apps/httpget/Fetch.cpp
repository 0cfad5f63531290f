#include "Fetch.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>

#include "ExitCodes.h"
#include "Host/FileUtils.h"
#include "Host/Streams.h"
#include "Host/StringList.h"
#include "Host/TerminalText.h"
#include "HttpProt/Url.h"

namespace {

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

int Fail(int Status, const std::string& Message) {
  std::fprintf(stderr, "httpget: %s\n", TerminalSafeText(Message).c_str());
  return Status;
}

// "NAME:PASSWORD" split at its first colon; a password may hold colons.
void SplitCredentials(const std::string& Text, std::string& Name, std::string& Password) {
  const std::size_t colon = Text.find(':');
  Name = Text.substr(0, colon);
  Password = colon == std::string::npos ? "" : Text.substr(colon + 1);
}

// The name -O writes to: the last segment of the URL's path, without its query; the reason
// in Fault when a server's choice of name could not be trusted with a file of its own.
std::string RemoteName(const std::string& Path, std::string& Fault) {
  const std::string path = Path.substr(0, Path.find_first_of("?#"));
  const std::string name = path.substr(path.rfind('/') + 1);
  Fault = FileNameFault(name);
  return name;
}

// Standard input, read whole: its length is what was read, whatever it is.
std::unique_ptr<TStream> ReadStdin() {
  auto s = std::make_unique<TMemoryStream>();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EReadError(std::string("standard input: ") + std::strerror(errno));
    if (n == 0) break;
    s->WriteBuffer(buf, static_cast<std::int32_t>(n));
  }
  s->SetPosition(0);
  return s;
}

void Configure(THttpCli& Http, const THttpGetOptions& O) {
  Http.SetURL(O.Url);
  if (!O.Agent.empty()) Http.SetAgent(O.Agent);
  if (!O.Proxy.empty()) Http.SetProxy(O.Proxy);
  std::string name, password;
  if (!O.User.empty()) {
    SplitCredentials(O.User, name, password);
    Http.SetUsername(name);
    Http.SetPassword(password);
  }
  if (!O.ProxyUser.empty()) {
    SplitCredentials(O.ProxyUser, name, password);
    Http.SetProxyUsername(name);
    Http.SetProxyPassword(password);
  }
  if (O.HasContentType) Http.SetContentTypePost(O.ContentType);
  Http.SetTimeout(O.Timeout);
  Http.SetMaxRelocations(O.MaxRedirs);
  if (O.SpeedLimit > 0 || O.SpeedTime > 0) {
    Http.SetLowSpeedLimit(O.SpeedLimit > 0 ? O.SpeedLimit : 1);
    Http.SetLowSpeedTime(O.SpeedTime > 0 ? O.SpeedTime : 30);
  }
  Http.SetMaxTime(O.MaxTime);
  if (!O.CAFile.empty()) Http.SetSslCAFile(O.CAFile);
  Http.SetSslUnsafeSkipVerify(O.Insecure);
}

// The response's header lines as they come: to standard error (--verbose), and before the
// body into its stream (--include, --head), as on the wire. A header that cannot be written
// ends the request, with the reason in Fault.
void ShowHeaders(THttpCli& Http, const THttpGetOptions& O, TStream& Body, std::string& Fault) {
  const bool include = O.Include || O.Head;
  if (!O.Verbose && !include) return;
  auto write = [&Http, &Body, &Fault](const std::string& Bytes) {
    try {
      Body.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    } catch (const std::exception& e) {
      Fault = e.what();
      Http.Abort();
    }
  };
  Http.OnHeaderData = [&Http, &O, write, include](TObject*) {
    const TStringList& lines = *Http.HeaderLines();
    const std::string& line = lines.Strings(lines.Count() - 1);
    if (O.Verbose) std::fprintf(stderr, "%s\n", TerminalSafeText(line).c_str());
    if (include) write(line + "\r\n");
  };
  if (include) Http.OnHeaderEnd = [write](TObject*) { write("\r\n"); };
}

// The streams the request reads and writes; the exit status when one cannot be opened.
std::optional<int> OpenStreams(const THttpGetOptions& O, const std::string& Output,
                               std::unique_ptr<TStream>& Body, std::unique_ptr<TStream>& Post) {
  try {
    if (!O.PostFile.empty())
      Post =
          O.PostFile == "-" ? ReadStdin() : std::make_unique<TFileStream>(O.PostFile, fmOpenRead);
  } catch (const std::exception& e) {
    return Fail(ExitReadError, e.what());
  }
  try {
    if (Output.empty())
      Body = std::make_unique<TStdoutStream>();
    else
      Body = std::make_unique<TFileStream>(Output, fmCreate);
  } catch (const std::exception& e) {
    return Fail(ExitWriteError, e.what());
  }
  return std::nullopt;
}

}  // namespace

int Fetch(const THttpGetOptions& O) {
  std::string proto, user, pass, host, port, path;
  ParseURL(O.Url, proto, user, pass, host, port, path);
  // Another scheme is the client's to refuse, with its own status.
  for (char& c : proto) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (host.empty() && (proto.empty() || proto == "http" || proto == "https"))
    return Fail(ExitMalformedUrl, "no host name in " + O.Url);
  std::string output = O.Output;
  if (O.RemoteName) {
    std::string fault;
    output = RemoteName(path, fault);
    if (!fault.empty())
      return Fail(ExitWriteError, "-O: no file written for " + O.Url + ": " + fault);
  }
  THttpCli http(nullptr);
  Configure(http, O);
  if (O.Insecure && !O.Silent)
    std::fprintf(stderr, "httpget: --insecure: no certificate is checked\n");
  std::unique_ptr<TStream> body, post;
  if (const auto status = OpenStreams(O, output, body, post)) return *status;
  http.SetRcvdStream(body.get());
  http.SetSendStream(post.get());
  std::string headerFault;
  ShowHeaders(http, O, *body, headerFault);

  try {
    if (post)
      http.Post();
    else if (O.Head)
      http.Head();
    else
      http.Get();
  } catch (const EHttpException&) {
    // The failure kind below says what ended it.
  } catch (const std::exception& e) {
    return Fail(ExitUnsupported, e.what());
  }
  if (!headerFault.empty()) return Fail(ExitWriteError, headerFault);
  const THttpFailure kind = http.FailureKind();
  if (kind != hfNone) return Fail(ExitCodeFor(kind), http.FailureMessage());
  if (!O.Silent)
    std::fprintf(stderr, "%d %s\n", http.StatusCode(),
                 TerminalSafeText(http.ReasonPhrase()).c_str());
  return ExitOk;
}
