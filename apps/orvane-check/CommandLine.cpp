#include "CommandLine.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

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

// The options of scripts and schedules; true for any other name.
bool ParseScheduleOption(const std::string& Name, const std::string& Value, TCheckOptions& Options,
                         std::string& Error) {
  if (Name == "--json") {
    Options.Json = true;
  } else if (Name == "--quiet") {
    Options.Quiet = true;
  } else if (Name == "--offer-skip") {
    Options.OfferSkip = true;
  } else if (Name == "--forget-skipped") {
    Options.ForgetSkipped = true;
  } else if (Name == "--if-due") {
    long seconds = 0;
    if (!ReadNumber(Value, 0, INT32_MAX, seconds)) {
      Error = "--if-due wants seconds from 0 to 2147483647 (got \"" + Value + "\")";
      return false;
    }
    Options.IfDue = static_cast<std::int32_t>(seconds);
  } else if (Name == "--state-file" || Name == "--skip-version" || Name == "--roll-back") {
    if (Value.empty()) {
      Error = Name + " wants a value";
      return false;
    }
    (Name == "--state-file"     ? Options.StateFile
     : Name == "--skip-version" ? Options.SkipVersion
                                : Options.RollBack) = Value;
  }
  return true;
}

// The options that do one thing instead of a check go with no other.
bool CheckScheduleOptions(const TCheckOptions& Options, bool HaveUrl, std::string& Error) {
  const int alone =
      !Options.SkipVersion.empty() + Options.ForgetSkipped + !Options.RollBack.empty();
  if (alone > 1 || (alone && (HaveUrl || Options.ServeDemo || Options.IfDue >= 0))) {
    Error =
        "--skip-version, --forget-skipped and --roll-back each do one thing, with no "
        "HOME-URL and no other of them";
    return false;
  }
  if (Options.Json && Options.Quiet) {
    Error = "--json already prints nothing but its object; it does not go with --quiet";
    return false;
  }
  if ((Options.Json || Options.Quiet) && (Options.Gui || Options.ServeDemo)) {
    Error = std::string(Options.Json ? "--json" : "--quiet") + " does not go with " +
            (Options.Gui ? "--gui" : "--serve-demo");
    return false;
  }
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& Args, TCheckOptions& Options,
                      std::string& Error) {
  bool haveUrl = false;
  bool havePort = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    std::string arg = Args[i];
    if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
      if (arg == "--") {
        if (++i >= Args.size()) break;
        arg = Args[i];
      }
      if (haveUrl) {
        Error = "more than one HOME-URL: \"" + Options.HomeURL + "\" and \"" + arg + "\"";
        return false;
      }
      if (!(arg.rfind("http://", 0) == 0 && arg.size() > 7) &&
          !(arg.rfind("https://", 0) == 0 && arg.size() > 8)) {
        Error =
            "HOME-URL must be an http:// or https:// address, like "
            "https://example.com/update.htm (got \"" +
            arg + "\")";
        return false;
      }
      Options.HomeURL = arg;
      haveUrl = true;
      continue;
    }
    // --name=value or --name value.
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    static const char* const flags[] = {"--help",
                                        "-h",
                                        "--yes",
                                        "-y",
                                        "--no-run",
                                        "--gui",
                                        "--run-unattended",
                                        "--serve-demo",
                                        "--allow-unexpiring",
                                        "--json",
                                        "--quiet",
                                        "--offer-skip",
                                        "--forget-skipped"};
    const bool isFlag = std::find_if(std::begin(flags), std::end(flags),
                                     [&](const char* F) { return name == F; }) != std::end(flags);
    static const char* const valued[] = {
        "--current-version", "--tag",          "--proxy",        "--noproxy",   "--save-to",
        "--version-format",  "--date-format",  "--port",         "--demo-rate", "--public-key",
        "--public-key-file", "--ca-file",      "--product",      "--if-due",    "--state-file",
        "--skip-version",    "--roll-back"};
    const bool isTimeBound =
        name == "--speed-limit" || name == "--speed-time" || name == "--max-time";
    const bool isValued =
        isTimeBound || std::find_if(std::begin(valued), std::end(valued),
                                    [&](const char* F) { return name == F; }) != std::end(valued);
    if (!isFlag && !isValued) {
      Error = "unknown option " + name + " (see --help)";
      return false;
    }
    if (isFlag && inlineValue) {
      Error = "option " + name + " takes no value";
      return false;
    }
    if (isValued && !inlineValue) {
      if (i + 1 >= Args.size()) {
        Error = "option " + name + " needs a value (see --help)";
        return false;
      }
      value = Args[++i];
    }

    if (name == "--help" || name == "-h") {
      Options.Help = true;
    } else if (name == "--yes" || name == "-y") {
      Options.Yes = true;
    } else if (name == "--no-run") {
      Options.NoRun = true;
    } else if (name == "--run-unattended") {
      Options.RunUnattended = true;
    } else if (name == "--allow-unexpiring") {
      Options.AllowUnexpiring = true;
    } else if (name == "--gui") {
      Options.Gui = true;
    } else if (name == "--serve-demo") {
      Options.ServeDemo = true;
    } else if (name == "--current-version") {
      Options.CurrentVersion = value;
    } else if (name == "--tag") {
      const std::size_t eq = value.find('=');
      std::string property;
      if (eq == std::string::npos || !TagProperty(value.substr(0, eq), property)) {
        Error =
            "--tag wants NAME=ENTRY with NAME one of product, version, date, author, "
            "download, readme, readme-ext, redirect, params, size, sha256, expires, "
            "signature, readme-size, readme-sha256, readme-ext-size, readme-ext-sha256 "
            "(got \"" +
            value + "\")";
        return false;
      }
      Options.Tags.emplace_back(property, value.substr(eq + 1));
    } else if (name == "--proxy") {
      const std::size_t colon = value.rfind(':');
      Options.ProxyHost = value.substr(0, colon);
      long port = 80;
      if (Options.ProxyHost.empty() ||
          (colon != std::string::npos && !ReadNumber(value.substr(colon + 1), 1, 65535, port))) {
        Error =
            "--proxy wants HOST or HOST:PORT with a port from 1 to 65535 (got \"" + value + "\")";
        return false;
      }
      Options.ProxyPort = static_cast<std::int32_t>(port);
    } else if (name == "--noproxy") {
      Options.NoProxy = value;
      Options.HasNoProxy = true;
    } else if (name == "--ca-file") {
      if (value.empty() || ::access(value.c_str(), R_OK) != 0) {
        Error = "--ca-file wants a readable file of certificates (got \"" + value + "\")";
        return false;
      }
      Options.CAFile = value;
    } else if (name == "--save-to") {
      if (value.empty()) {
        Error = "--save-to wants a folder";
        return false;
      }
      Options.SaveTo = value;
    } else if (name == "--version-format") {
      if (value == "build")
        Options.VersionFormat = orvvBuildNumber;
      else if (value == "simple")
        Options.VersionFormat = orvvSimpleString;
      else {
        Error = "--version-format wants build or simple (got \"" + value + "\")";
        return false;
      }
    } else if (name == "--date-format") {
      if (value == "zel")
        Options.DateFormat = orvdZelDate;
      else if (value == "none")
        Options.DateFormat = orvdNone;
      else {
        Error = "--date-format wants zel or none (got \"" + value + "\")";
        return false;
      }
    } else if (name == "--port") {
      long port = 0;
      if (!ReadNumber(value, 1, 65535, port)) {
        Error = "--port wants a port from 1 to 65535 (got \"" + value + "\")";
        return false;
      }
      Options.Port = static_cast<std::uint16_t>(port);
      havePort = true;
    } else if (name == "--public-key" || name == "--public-key-file") {
      // Given more than once, any of the keys may have signed the page.
      std::string keys = value;
      std::vector<std::string> parsed;
      if (name == "--public-key-file" && !ReadKeyFile(value, keys, Error)) {
        Error = name + ": " + Error;
        return false;
      }
      if (!ParsePublicKeys(keys, parsed, Error)) {
        Error = name + ": " + Error;
        return false;
      }
      for (const std::string& key : parsed)
        Options.PublicKey += (Options.PublicKey.empty() ? "" : "\n") + key;
    } else if (name == "--product") {
      if (value.empty()) {
        Error = "--product wants the product's name as its pages give it";
        return false;
      }
      Options.ExpectedProduct = value;
    } else if (isTimeBound) {
      long n = 0;
      if (!ReadNumber(value, 0, 1000000000, n)) {
        Error = name + " wants a whole number from 0 to 1000000000 (got \"" + value + "\")";
        return false;
      }
      (name == "--speed-limit"  ? Options.SpeedLimit
       : name == "--speed-time" ? Options.SpeedTime
                                : Options.MaxTime) = static_cast<std::int32_t>(n);
    } else if (!ParseScheduleOption(name, value, Options, Error)) {
      return false;
    } else if (name == "--demo-rate") {
      long rate = 0;
      if (!ReadNumber(value, 0, 100000000, rate)) {
        Error = "--demo-rate wants bytes a second from 0 to 100000000 (got \"" + value + "\")";
        return false;
      }
      Options.DemoRate = static_cast<std::int32_t>(rate);
    }
  }
  if (Options.Help) return true;
  if (!CheckScheduleOptions(Options, haveUrl, Error)) return false;
  if (Options.RunUnattended && haveUrl && Options.PublicKey.empty()) {
    // Starting what a server sent, with nobody to look at it first, is only sound for an
    // update whose origin is proven: its page signed with the publisher's key. (The demo
    // check always has its server's key.)
    Error =
        "--run-unattended is refused without --public-key or --public-key-file: an update "
        "may only start without a person agreeing once its signature proves that it comes "
        "from its publisher";
    return false;
  }
  if (Options.RunUnattended && (Options.NoRun || Options.Gui || Options.ServeDemo)) {
    Error = std::string("--run-unattended starts the update; it does not go with ") +
            (Options.NoRun ? "--no-run"
             : Options.Gui ? "--gui"
                           : "--serve-demo");
    return false;
  }
  if (Options.ServeDemo && haveUrl) {
    Error = "--serve-demo runs the demo server only and takes no HOME-URL";
    return false;
  }
  if (Options.Gui && Options.ServeDemo) {
    Error = "--gui is for the update check; --serve-demo shows nothing";
    return false;
  }
  if (haveUrl && (havePort || Options.DemoRate >= 0)) {
    Error = std::string(havePort ? "--port" : "--demo-rate") +
            " is for the demo server, which does not run when a HOME-URL is given";
    return false;
  }
  return true;
}

std::string UsageText() {
  return R"(Usage: orvane-check [HOME-URL] [OPTION...]
       orvane-check --serve-demo [--port N] [--demo-rate BYTES]

Checks the information page at HOME-URL for a newer version, asks whether to
download it, saves it where you say with a progress line, and offers to start it.
Without HOME-URL the check runs against a demo server built into the program,
which offers "Orvane Demo" 1.1 against a current version of 1.0, on a page
signed with a key made at its start; the demo check is given that key.

The information page carries its data in lines of the form
  <META HTTP-EQUIV="Version" CONTENT="1.1">
one entry a line; the entry names are set with --tag.

Options:
  --current-version V   the version you run now (default 1.0)
                          e.g. --current-version 2.4.0.17
  --tag NAME=ENTRY      the page entry that gives NAME; NAME is one of product,
                        version, date, author, download, readme, readme-ext,
                        redirect, params, size, sha256, expires, signature,
                        readme-size, readme-sha256, readme-ext-size,
                        readme-ext-sha256 (defaults: Product, Version, Date,
                        Author, Download, ReadMe, ReadMeExt, Redirect, Params,
                        Size, SHA256, Expires, Signature, ReadMeSize,
                        ReadMeSHA256, ReadMeExtSize, ReadMeExtSHA256); may be
                        given many times
                          e.g. --tag version=AppVersion --tag download=SetupURL
  --proxy HOST[:PORT]   fetch through this HTTP proxy (port 80 when left out)
                          e.g. --proxy 127.0.0.1:3128
                        without it, http_proxy, https_proxy, all_proxy and
                        no_proxy are read as curl reads them
  --noproxy HOSTS       hosts (names, addresses, CIDR blocks, comma-separated)
                        reached without the environment's proxy, instead of
                        no_proxy; "*" for every host
                          e.g. --noproxy localhost,10.0.0.0/8
  --ca-file FILE        trust the authorities in FILE (PEM certificates) for
                        https addresses instead of the system's
                          e.g. --ca-file /etc/myca.pem
  --save-to DIR         the folder the save prompt proposes (default: the
                        current folder); it must exist and be writable
                          e.g. --save-to ~/Downloads
  --yes, -y             answer every question with its default, without asking:
                        view the read-me, download, take the proposed file name;
                        an existing file is not replaced, and the update is saved
                        but not started
                          e.g. orvane-check --yes http://example.com/update.htm
  --gui                 ask in windows on the X display instead of on the
                        terminal (needs $DISPLAY)
                          e.g. orvane-check --gui
  --no-run              do not offer to start the update once it is saved
                          e.g. orvane-check --no-run
  --public-key KEY      the publisher's Ed25519 public key, in Base64 (as
                        "orvane-sign keygen" prints it): the page must carry a
                        valid signature by it over every entry, must give an
                        expiry that has not passed, and the file and read-mes
                        must have their signed sizes and SHA-256; anything else
                        is refused before any question. Given more than once,
                        a page signed by any of the keys is accepted (to move
                        to a new key before the old one is retired)
                          e.g. --public-key 11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=
  --public-key-file F   the same, the keys read from file F, one a line (as
                        KEYFILE.pub of "orvane-sign keygen KEYFILE")
  --product NAME        with a key: the signed page must be for this product,
                        so that a page the same key signed for another product
                        is refused
                          e.g. --product "Sample Editor"
  --allow-unexpiring    with a key: accept a signed page that gives no expiry
                        (one that a stale copy can replay for ever)
  --run-unattended      answer every question with its default and start the
                        update without asking; only for an update whose
                        signature was verified, so it needs --public-key (the
                        demo check has its server's key)
                          e.g. --run-unattended --public-key-file publisher.pub
  --speed-limit BYTES   a request that moves fewer bytes a second than this, on
                        average over --speed-time, fails (default 100; 0: none)
  --speed-time SECONDS  the span of --speed-limit (default 30)
                          e.g. --speed-limit 1000 --speed-time 10
  --max-time SECONDS    the longest a page, read-me or download may take (default
                        60 for pages and read-mes, no bound for the download; 0:
                        none)
                          e.g. --max-time 600
  --version-format F    how versions compare: build (numbers between dots,
                        1.10 is newer than 1.9; the default) or simple (byte
                        by byte as text)
                          e.g. --version-format simple
  --date-format F       how the page's date reads: zel ("Mar 5, 1998"; the
                        default) or none (the date is ignored)
                          e.g. --date-format none
  --serve-demo          only run the demo server, until interrupted, so that
                        curl, a browser or another orvane-check can use it
                          e.g. orvane-check --serve-demo --port 8080
  --port N              the demo server's port (default: a free one)
                          e.g. --port 8080
  --demo-rate BYTES     bytes a second at which the demo server sends the
                        update file, to watch its progress (default 200 in the
                        demo check, 0 = as fast as possible with --serve-demo)
                          e.g. --demo-rate 50
  --json                print one JSON object on standard output when the check
                        ends, and nothing else there: result, product, version
                        offered, current version, saved file, whether the
                        signature was verified, failure kind and text
  --quiet               print nothing but errors (questions still go to the
                        terminal, on standard error)
  --offer-skip          the download question offers three answers: install,
                        skip this version, remind me later
  --if-due SECONDS      check only when the last completed check is at least
                        SECONDS old (0: always), and never offer a skipped
                        version; the time and the answers are kept in the
                        state file
                          e.g. orvane-check URL --if-due 86400 --offer-skip
  --state-file FILE     where --if-due and the answers are kept (default:
                        $XDG_STATE_HOME/orvane-check/update-check.ini)
  --skip-version V      only record V as skipped: --if-due never offers it
  --forget-skipped      only forget the skipped version and any reminder
  --roll-back PATH      only put back PATH.previous, the program an update
                        replaced, as PATH
  --help, -h            this text

Keys: Enter takes the default answer shown in brackets; Escape or Ctrl-C
cancels the download while its progress line runs. When standard input is not
a terminal, every question takes its default answer, the update is saved but
not started (unless --run-unattended and its signature was verified), and an
external read-me is neither fetched nor opened; so with --yes. SIGINT, SIGTERM and SIGHUP cancel the check like Ctrl-C.

Signed pages: a page may give the update file's size (Size), its SHA-256
(SHA256), the last day it is valid (Expires, YYYY-MM-DD), each read-me's size
and SHA-256 (ReadMeSize, ReadMeSHA256, ReadMeExtSize, ReadMeExtSHA256) and an
Ed25519 signature over every entry (Signature); orvane-sign writes these
entries. With --public-key the signature must be valid over all of them, the
page must give an expiry that has not passed, a read-me is shown only when it
has its signed size and SHA-256, and an older or equal version is never
downloaded. A page with Size and SHA256 but checked without a key still has its
file checked, which catches corruption but not an attacker. A download that
passes the size is stopped, and a file whose SHA-256 differs is deleted: nothing
is saved, nothing started.

What a page may not do: name anything but an http:// or https:// address with
a host, propose a file name that is empty, ".", "..", hidden (starts with "."),
holds a control character or a backslash, or is longer than 255 bytes, or be
larger than 1 MiB. Such a page is refused with exit status 2. Texts from the server
are printed with control characters shown as escapes (\x1b).

Exit status: 0 an update was downloaded; 1 there is none, you declined, or the
check was cancelled (or not due); 2 failure (the reason on standard error).
)";
}
