#include "Options.h"

#include "ExitCodes.h"

namespace {

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

auto Text(std::string& Into) {
  return [&Into](const std::string& Value) {
    Into = Value;
    return std::string();
  };
}

auto Flag(bool& Into) {
  return [&Into](const std::string&) {
    Into = true;
    return std::string();
  };
}

auto Count(std::int32_t& Into) {
  return [&Into](const std::string& Value) {
    return ParseCount(Value, Into) ? std::string() : "needs a whole number, not \"" + Value + "\"";
  };
}

cli::TSection ExitStatusSection() {
  cli::TSection s{"Exit status", "As curl's, so that a script can tell failures apart:", {}};
  for (const TExitCode& e : ExitCodes) s.Items.emplace_back(std::to_string(e.Code), e.Meaning);
  return s;
}

}  // namespace

cli::TProgram HttpGetProgram(THttpGetOptions& O) {
  cli::TProgram p;
  p.Name = "httpget";
  p.Synopsis = "[OPTION...] URL";
  p.Summary = "fetch one URL over HTTP or HTTPS";
  p.Description =
      "Fetches URL (http:// or https://) and writes the body to standard output, or to a "
      "file. Relocations are followed. The status line goes to standard error; a failure "
      "is told there in one line that names what failed, and the exit status says which "
      "kind of failure it was. The body of a status of 400 or more is not written.";
  p.Options = {
      {"output", 'o', "FILE", Text(O.Output), "write the body to FILE instead of standard output"},
      {"remote-name", 'O', "", Flag(O.RemoteName),
       "write the body to a file in the current folder named as the URL's last segment; "
       "a name that is empty, hidden, \".\" or \"..\", holds a control character or a "
       "backslash, or is too long is refused"},
      {"head", 'I', "", Flag(O.Head),
       "send HEAD and print the response headers on standard output"},
      {"include", 'i', "", Flag(O.Include),
       "print the response headers (of every response, relocations too) before the body"},
      {"silent", 's', "", Flag(O.Silent),
       "print no status line and no warning; a failure still says what failed"},
      {"verbose", 'v', "", Flag(O.Verbose), "print every response header line on standard error"},
      {"post-file", 0, "FILE", Text(O.PostFile),
       "send a POST with FILE's contents as its body; \"-\" reads standard input"},
      {"content-type", 0, "TYPE",
       [&O](const std::string& V) {
         O.ContentType = V;
         O.HasContentType = true;
         return std::string();
       },
       "the POST's Content-Type (application/x-www-form-urlencoded by default)"},
      {"proxy", 0, "HOST[:PORT]", Text(O.Proxy),
       "fetch through this HTTP proxy (port 80 by default)"},
      {"user", 0, "NAME:PASSWORD", Text(O.User), "Basic credentials for the server"},
      {"proxy-user", 0, "NAME:PASSWORD", Text(O.ProxyUser), "Basic credentials for the proxy"},
      {"agent", 0, "TEXT", Text(O.Agent), "the User-Agent line"},
      {"timeout", 0, "SECONDS", Count(O.Timeout),
       "give up after SECONDS without any progress (0, the default: never)"},
      {"max-redirs", 0, "N", Count(O.MaxRedirs), "follow at most N relocations (20 by default)"},
      {"ca-file", 0, "FILE", Text(O.CAFile),
       "trust the authorities in FILE (PEM certificates) for https instead of the system's"},
      {"insecure", 'k', "", Flag(O.Insecure),
       "check no certificate at all: anyone on the way can read and change everything"},
  };
  p.Operand = [&O](const std::string& Word) {
    if (!O.Url.empty()) return "more than one URL: \"" + O.Url + "\" and \"" + Word + "\"";
    O.Url = Word;
    return std::string();
  };
  p.Sections = {ExitStatusSection()};
  return p;
}

std::string OptionsFault(const THttpGetOptions& O) {
  if (O.Url.empty()) return "no URL";
  if (O.Head && !O.PostFile.empty()) return "--head and --post-file exclude each other";
  if (O.RemoteName && !O.Output.empty()) return "-O and -o exclude each other";
  return {};
}
