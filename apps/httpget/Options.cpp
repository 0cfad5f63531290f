#include "Options.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ExitCodes.h"

namespace {

cli::TSection ExitStatusSection() {
  cli::TSection s{"Exit status", "As curl's, so that a script can tell failures apart:", {}};
  for (const TExitCode& e : ExitCodes) s.Items.emplace_back(std::to_string(e.Code), e.Meaning);
  return s;
}

}  // namespace

cli::TProgram HttpGetProgram(THttpGetOptions& O) {
  using cli::SetTrue, cli::StoreIn, cli::StoreNumber;
  constexpr std::int64_t MostCount = 1000000000;
  std::vector<cli::TOption> options = {
      {"output", 'o', "FILE", StoreIn(O.Output),
       "write the body to FILE instead of standard output"},
      {"remote-name", 'O', "", SetTrue(O.RemoteName),
       "write the body to a file in the current folder named as the URL's last segment; "
       "a name that is empty, hidden, \".\" or \"..\", holds a control character or a "
       "backslash, or is too long is refused"},
      {"head", 'I', "", SetTrue(O.Head),
       "send HEAD and print the response headers on standard output"},
      {"include", 'i', "", SetTrue(O.Include),
       "print the response headers (of every response, relocations too) before the body"},
      {"silent", 's', "", SetTrue(O.Silent),
       "print no status line and no warning; a failure still says what failed"},
      {"verbose", 'v', "", SetTrue(O.Verbose),
       "print every response header line on standard error"},
      {"post-file", 0, "FILE", StoreIn(O.PostFile),
       "send a POST with FILE's contents as its body; \"-\" reads standard input"},
      {"content-type", 0, "TYPE",
       [&O](const std::string& V) {
         O.HasContentType = true;
         return StoreIn(O.ContentType)(V);
       },
       "the POST's Content-Type (application/x-www-form-urlencoded by default)"},
      {"proxy", 0, "HOST[:PORT]",
       [&O](const std::string& V) {
         if (V.empty()) {
           O.NoProxy.assign(1, '*');
           O.HasNoProxy = true;
         }
         return StoreIn(O.Proxy)(V);
       },
       "fetch through this HTTP proxy (port 80 by default); without it, through the one "
       "that http_proxy, https_proxy or all_proxy names, as curl reads them; \"\" for none"},
      {"noproxy", 0, "HOSTS",
       [&O](const std::string& V) {
         O.HasNoProxy = true;
         return StoreIn(O.NoProxy)(V);
       },
       "reach these hosts (names, addresses, CIDR blocks, comma-separated; \"*\" for all) "
       "without the environment's proxy, in place of no_proxy"},
      {"user", 0, "NAME:PASSWORD", StoreIn(O.User), "Basic credentials for the server"},
      {"proxy-user", 0, "NAME:PASSWORD", StoreIn(O.ProxyUser), "Basic credentials for the proxy"},
      {"agent", 0, "TEXT", StoreIn(O.Agent), "the User-Agent line"},
      {"timeout", 0, "SECONDS", StoreNumber(O.Timeout, MostCount),
       "give up after SECONDS without any progress (0, the default: never)"},
      {"max-redirs", 0, "N", StoreNumber(O.MaxRedirs, MostCount),
       "follow at most N relocations (20 by default)"},
      {"speed-limit", 0, "BYTES", StoreNumber(O.SpeedLimit, MostCount),
       "give up when fewer than BYTES a second arrive for --speed-time seconds (1 when "
       "only --speed-time is given)"},
      {"speed-time", 0, "SECONDS", StoreNumber(O.SpeedTime, MostCount),
       "the time over which --speed-limit is measured (30 when only --speed-limit is given)"},
      {"max-time", 0, "SECONDS", StoreNumber(O.MaxTime, MostCount),
       "give up when the whole transfer takes longer than SECONDS (0, the default: never)"},
      {"ca-file", 0, "FILE",
       [&O](const std::string& V) {
         // Said now, not as a failed connection once the request is under way.
         if (::access(V.c_str(), R_OK) != 0)
           return "cannot read \"" + V + "\": " + std::strerror(errno);
         return StoreIn(O.CAFile)(V);
       },
       "trust the authorities in FILE (PEM certificates) for https instead of the system's"},
      {"insecure", 'k', "", SetTrue(O.Insecure),
       "check no certificate at all: anyone on the way can read and change everything"},
  };
  auto url = [&O](const std::string& Word) {
    if (!O.Url.empty()) return "more than one URL: \"" + O.Url + "\" and \"" + Word + "\"";
    O.Url = Word;
    return std::string();
  };
  return {"httpget",
          "[OPTION...] URL",
          "fetch one URL over HTTP or HTTPS",
          "Fetches URL (http:// or https://) and writes the body to standard output, or to a "
          "file. Relocations are followed. The status line goes to standard error; a failure "
          "is told there in one line that names what failed, and the exit status says which "
          "kind of failure it was. The body of a status of 400 or more is not written.",
          std::move(options),
          url,
          {ExitStatusSection()}};
}

std::string OptionsFault(const THttpGetOptions& O) {
  if (O.Url.empty()) return "no URL";
  if (O.Head && !O.PostFile.empty()) return "--head and --post-file exclude each other";
  if (O.RemoteName && !O.Output.empty()) return "-O and -o exclude each other";
  return {};
}
