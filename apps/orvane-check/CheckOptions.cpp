#include "CheckOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

#include "CheckHelp.h"
#include "Orvane/SignedFacts.h"

namespace {

// The short names --tag takes, with the tag property each stands for.
const std::pair<const char*, const char*> TagNames[] = {{"product", "ProductNameTag"},
                                                        {"version", "VersionTag"},
                                                        {"date", "DateTag"},
                                                        {"author", "AuthorTag"},
                                                        {"download", "DownloadTag"},
                                                        {"readme", "ReadMeTag"},
                                                        {"readme-ext", "ReadMeExtTag"},
                                                        {"redirect", "RedirectTag"},
                                                        {"params", "RunParamsTag"},
                                                        {"size", "SizeTag"},
                                                        {"sha256", "SHA256Tag"},
                                                        {"readme-size", "ReadMeSizeTag"},
                                                        {"readme-sha256", "ReadMeSHA256Tag"},
                                                        {"readme-ext-size", "ReadMeExtSizeTag"},
                                                        {"readme-ext-sha256", "ReadMeExtSHA256Tag"},
                                                        {"expires", "ExpiresTag"},
                                                        {"signature", "SignatureTag"}};

std::string Lower(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return S;
}

// A whole decimal number within Min..Max.
bool ReadNumber(const std::string& Text, long Min, long Max, long& Out) {
  const char* end = Text.data() + Text.size();
  auto [ptr, ec] = std::from_chars(Text.data(), end, Out);
  return !Text.empty() && ec == std::errc() && ptr == end && Out >= Min && Out <= Max;
}

std::string Got(const std::string& Value) {
  return " (got \"" + Value + "\")";
}

bool TagProperty(const std::string& Name, std::string& Property) {
  const std::string l = Lower(Name);
  for (const auto& [shortName, prop] : TagNames) {
    if (l == shortName || l == Lower(prop)) {
      Property = prop;
      return true;
    }
  }
  return false;
}

// A number from 0 to Most, as the option's own words ask for it.
template <typename T>
cli::TApply StoreRange(T& Into, long Most, const std::string& Wanted) {
  return [&Into, Most, Wanted](const std::string& V) {
    long n = 0;
    if (!ReadNumber(V, 0, Most, n)) return Wanted + Got(V);
    Into = static_cast<T>(n);
    return std::string();
  };
}

// A value that may not be empty.
cli::TApply StoreSome(std::string& Into, const std::string& Wanted) {
  return [&Into, Wanted](const std::string& V) {
    if (V.empty()) return Wanted;
    Into = V;
    return std::string();
  };
}

std::string AddTag(TCheckOptions& O, const std::string& V) {
  const std::size_t eq = V.find('=');
  std::string property;
  if (eq == std::string::npos || !TagProperty(V.substr(0, eq), property))
    return "wants NAME=ENTRY with NAME one of product, version, date, author, download, readme, "
           "readme-ext, redirect, params, size, sha256, expires, signature, readme-size, "
           "readme-sha256, readme-ext-size, readme-ext-sha256" +
           Got(V);
  O.Tags.emplace_back(property, V.substr(eq + 1));
  return {};
}

std::string SetProxy(TCheckOptions& O, const std::string& V) {
  const std::size_t colon = V.rfind(':');
  O.ProxyHost = V.substr(0, colon);
  long port = 80;
  if (O.ProxyHost.empty() ||
      (colon != std::string::npos && !ReadNumber(V.substr(colon + 1), 1, 65535, port)))
    return "wants HOST or HOST:PORT with a port from 1 to 65535" + Got(V);
  O.ProxyPort = static_cast<std::int32_t>(port);
  return {};
}

// Given more than once, any of the keys may have signed the page.
std::string AddKeys(TCheckOptions& O, const std::string& V, bool FromFile) {
  std::string keys = V, error;
  std::vector<std::string> parsed;
  if (FromFile && !ReadKeyFile(V, keys, error)) return error;
  if (!ParsePublicKeys(keys, parsed, error)) return error;
  for (const std::string& key : parsed) O.PublicKey += (O.PublicKey.empty() ? "" : "\n") + key;
  return {};
}

template <typename T>
cli::TApply OneOf(T& Into, const char* A, T ValueA, const char* B, T ValueB) {
  return [=, &Into](const std::string& V) {
    if (V != A && V != B) return std::string("wants ") + A + " or " + B + Got(V);
    Into = V == A ? ValueA : ValueB;
    return std::string();
  };
}

std::vector<cli::TOption> CheckOptionTable(TCheckOptions& O) {
  using cli::SetTrue, cli::StoreIn;
  constexpr long MostBound = 1000000000;
  const std::string bound = "wants a whole number from 0 to 1000000000";
  return {
      {"current-version", 0, "V", StoreIn(O.CurrentVersion),
       "the version you run now (default 1.0), e.g. --current-version 2.4.0.17"},
      {"tag", 0, "NAME=ENTRY", [&O](const std::string& V) { return AddTag(O, V); },
       "the page entry that gives NAME; NAME is one of product, version, date, author, "
       "download, readme, readme-ext, redirect, params, size, sha256, expires, signature, "
       "readme-size, readme-sha256, readme-ext-size, readme-ext-sha256 (defaults: Product, "
       "Version, Date, Author, Download, ReadMe, ReadMeExt, Redirect, Params, Size, SHA256, "
       "Expires, Signature, ReadMeSize, ReadMeSHA256, ReadMeExtSize, ReadMeExtSHA256); may be "
       "given many times, e.g. --tag version=AppVersion --tag download=SetupURL"},
      {"proxy", 0, "HOST[:PORT]", [&O](const std::string& V) { return SetProxy(O, V); },
       "fetch through this HTTP proxy (port 80 when left out), e.g. --proxy 127.0.0.1:3128; "
       "without it, http_proxy, https_proxy, all_proxy and no_proxy are read as curl reads "
       "them"},
      {"noproxy", 0, "HOSTS",
       [&O](const std::string& V) {
         O.HasNoProxy = true;
         return StoreIn(O.NoProxy)(V);
       },
       "hosts (names, addresses, CIDR blocks, comma-separated) reached without the "
       "environment's proxy, instead of no_proxy; \"*\" for every host, e.g. --noproxy "
       "localhost,10.0.0.0/8"},
      {"ca-file", 0, "FILE",
       [&O](const std::string& V) {
         if (V.empty() || ::access(V.c_str(), R_OK) != 0)
           return "wants a readable file of certificates" + Got(V);
         return StoreIn(O.CAFile)(V);
       },
       "trust the authorities in FILE (PEM certificates) for https addresses instead of the "
       "system's, e.g. --ca-file /etc/myca.pem"},
      {"save-to", 0, "DIR", StoreSome(O.SaveTo, "wants a folder"),
       "the folder the save prompt proposes (default: the current folder); it must exist and "
       "be writable, e.g. --save-to ~/Downloads"},
      {"yes", 'y', "", SetTrue(O.Yes),
       "answer every question with its default, without asking: view the read-me, download, "
       "take the proposed file name; an existing file is not replaced, and the update is saved "
       "but not started"},
      {"gui", 0, "", SetTrue(O.Gui),
       "ask in windows on the X display instead of on the terminal (needs $DISPLAY)"},
      {"no-run", 0, "", SetTrue(O.NoRun), "do not offer to start the update once it is saved"},
      {"public-key", 0, "KEY", [&O](const std::string& V) { return AddKeys(O, V, false); },
       "the publisher's Ed25519 public key, in Base64 (as \"orvane-sign keygen\" prints it): "
       "the page must carry a valid signature by it over every entry, must give an expiry that "
       "has not passed, and the file and read-mes must have their signed sizes and SHA-256; "
       "anything else is refused before any question. Given more than once, a page signed by "
       "any of the keys is accepted (to move to a new key before the old one is retired)"},
      {"public-key-file", 0, "F", [&O](const std::string& V) { return AddKeys(O, V, true); },
       "the same, the keys read from file F, one a line (as KEYFILE.pub of \"orvane-sign "
       "keygen KEYFILE\")"},
      {"product", 0, "NAME",
       StoreSome(O.ExpectedProduct, "wants the product's name as its pages give it"),
       "with a key: the signed page must be for this product, so that a page the same key "
       "signed for another product is refused, e.g. --product \"Sample Editor\""},
      {"allow-unexpiring", 0, "", SetTrue(O.AllowUnexpiring),
       "with a key: accept a signed page that gives no expiry (one that a stale copy can "
       "replay for ever)"},
      {"run-unattended", 0, "", SetTrue(O.RunUnattended),
       "answer every question with its default and start the update without asking; only for "
       "an update whose signature was verified, so it needs --public-key (the demo check has "
       "its server's key), e.g. --run-unattended --public-key-file publisher.pub"},
      {"speed-limit", 0, "BYTES", StoreRange(O.SpeedLimit, MostBound, bound),
       "a request that moves fewer bytes a second than this, on average over --speed-time, "
       "fails (default 100; 0: none)"},
      {"speed-time", 0, "SECONDS", StoreRange(O.SpeedTime, MostBound, bound),
       "the span of --speed-limit (default 30), e.g. --speed-limit 1000 --speed-time 10"},
      {"max-time", 0, "SECONDS", StoreRange(O.MaxTime, MostBound, bound),
       "the longest a page, read-me or download may take (default 60 for pages and read-mes, "
       "no bound for the download; 0: none)"},
      {"version-format", 0, "F",
       OneOf(O.VersionFormat, "build", orvvBuildNumber, "simple", orvvSimpleString),
       "how versions compare: build (numbers between dots, 1.10 is newer than 1.9; the "
       "default) or simple (byte by byte as text)"},
      {"date-format", 0, "F", OneOf(O.DateFormat, "zel", orvdZelDate, "none", orvdNone),
       "how the page's date reads: zel (\"Mar 5, 1998\"; the default) or none (the date is "
       "ignored)"},
      {"serve-demo", 0, "", SetTrue(O.ServeDemo),
       "only run the demo server, until interrupted, so that curl, a browser or another "
       "orvane-check can use it, e.g. orvane-check --serve-demo --port 8080"},
      // Port 0 stays "a free one": a port given is never 0.
      {"port", 0, "N",
       [&O](const std::string& V) {
         long port = 0;
         if (!ReadNumber(V, 1, 65535, port)) return "wants a port from 1 to 65535" + Got(V);
         O.Port = static_cast<std::uint16_t>(port);
         return std::string();
       },
       "the demo server's port (default: a free one)"},
      {"demo-rate", 0, "BYTES",
       StoreRange(O.DemoRate, 100000000, "wants bytes a second from 0 to 100000000"),
       "bytes a second at which the demo server sends the update file, to watch its progress "
       "(default 200 in the demo check, 0 = as fast as possible with --serve-demo)"},
      {"json", 0, "", SetTrue(O.Json),
       "print one JSON object on standard output when the check ends, and nothing else there: "
       "result, product, version offered, current version, saved file, whether the signature "
       "was verified, failure kind and text"},
      {"quiet", 0, "", SetTrue(O.Quiet),
       "print nothing but errors (questions still go to the terminal, on standard error)"},
      {"offer-skip", 0, "", SetTrue(O.OfferSkip),
       "the download question offers three answers: install, skip this version, remind me "
       "later"},
      {"if-due", 0, "SECONDS", StoreRange(O.IfDue, INT32_MAX, "wants seconds from 0 to 2147483647"),
       "check only when the last completed check is at least SECONDS old (0: always), and "
       "never offer a skipped version; the time and the answers are kept in the state file, "
       "e.g. orvane-check URL --if-due 86400 --offer-skip"},
      {"state-file", 0, "FILE", StoreSome(O.StateFile, "wants a value"),
       "where --if-due and the answers are kept (default: "
       "$XDG_STATE_HOME/orvane-check/update-check.ini)"},
      {"skip-version", 0, "V", StoreSome(O.SkipVersion, "wants a value"),
       "only record V as skipped: --if-due never offers it"},
      {"forget-skipped", 0, "", SetTrue(O.ForgetSkipped),
       "only forget the skipped version and any reminder"},
      {"roll-back", 0, "PATH", StoreSome(O.RollBack, "wants a value"),
       "only put back PATH.previous, the program an update replaced, as PATH"},
  };
}

// The options that do one thing instead of a check go with no other.
std::string ScheduleFault(const TCheckOptions& O) {
  const bool haveUrl = !O.HomeURL.empty();
  const int alone = !O.SkipVersion.empty() + O.ForgetSkipped + !O.RollBack.empty();
  if (alone > 1 || (alone && (haveUrl || O.ServeDemo || O.IfDue >= 0)))
    return "--skip-version, --forget-skipped and --roll-back each do one thing, with no "
           "HOME-URL and no other of them";
  if (O.Json && O.Quiet)
    return "--json already prints nothing but its object; it does not go with --quiet";
  if ((O.Json || O.Quiet) && (O.Gui || O.ServeDemo))
    return std::string(O.Json ? "--json" : "--quiet") + " does not go with " +
           (O.Gui ? "--gui" : "--serve-demo");
  return {};
}

}  // namespace

cli::TProgram CheckProgram(TCheckOptions& O) {
  auto url = [&O](const std::string& Word) {
    if (!O.HomeURL.empty())
      return "more than one HOME-URL: \"" + O.HomeURL + "\" and \"" + Word + "\"";
    if (!(Word.rfind("http://", 0) == 0 && Word.size() > 7) &&
        !(Word.rfind("https://", 0) == 0 && Word.size() > 8))
      return "HOME-URL must be an http:// or https:// address, like "
             "https://example.com/update.htm" +
             Got(Word);
    O.HomeURL = Word;
    return std::string();
  };
  return {"orvane-check",   "[HOME-URL] [OPTION...]", "check a page for a newer version",
          CheckDescription, CheckOptionTable(O),      url,
          CheckSections()};
}

std::string OptionsFault(const TCheckOptions& O) {
  const bool haveUrl = !O.HomeURL.empty();
  if (std::string fault = ScheduleFault(O); !fault.empty()) return fault;
  if (O.RunUnattended && haveUrl && O.PublicKey.empty()) {
    // Starting what a server sent, with nobody to look at it first, is only sound for an
    // update whose origin is proven: its page signed with the publisher's key. (The demo
    // check always has its server's key.)
    return "--run-unattended is refused without --public-key or --public-key-file: an update "
           "may only start without a person agreeing once its signature proves that it comes "
           "from its publisher";
  }
  if (O.RunUnattended && (O.NoRun || O.Gui || O.ServeDemo))
    return std::string("--run-unattended starts the update; it does not go with ") +
           (O.NoRun ? "--no-run"
            : O.Gui ? "--gui"
                    : "--serve-demo");
  if (O.ServeDemo && haveUrl) return "--serve-demo runs the demo server only and takes no HOME-URL";
  if (O.Gui && O.ServeDemo) return "--gui is for the update check; --serve-demo shows nothing";
  if (haveUrl && (O.Port != 0 || O.DemoRate >= 0))
    return std::string(O.Port != 0 ? "--port" : "--demo-rate") +
           " is for the demo server, which does not run when a HOME-URL is given";
  return {};
}
