#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

// The short names --tag takes, with the tag property each stands for.
const std::pair<const char*, const char*> TagNames[] = {
    {"product", "ProductNameTag"},  {"version", "VersionTag"},   {"date", "DateTag"},
    {"author", "AuthorTag"},        {"download", "DownloadTag"}, {"readme", "ReadMeTag"},
    {"readme-ext", "ReadMeExtTag"}, {"redirect", "RedirectTag"}, {"params", "RunParamsTag"}};

std::string Lower(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return S;
}

// A whole decimal number within Min..Max.
bool ReadNumber(const std::string& Text, long Min, long Max, long& Out) {
  const char* End = Text.data() + Text.size();
  auto [Ptr, Ec] = std::from_chars(Text.data(), End, Out);
  return !Text.empty() && Ec == std::errc() && Ptr == End && Out >= Min && Out <= Max;
}

bool TagProperty(const std::string& Name, std::string& Property) {
  const std::string L = Lower(Name);
  for (const auto& [Short, Prop] : TagNames) {
    if (L == Short || L == Lower(Prop)) {
      Property = Prop;
      return true;
    }
  }
  return false;
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& DefaultTags() {
  static const std::vector<std::pair<std::string, std::string>> Tags = {
      {"ProductNameTag", "Product"}, {"VersionTag", "Version"},   {"DateTag", "Date"},
      {"AuthorTag", "Author"},       {"DownloadTag", "Download"}, {"ReadMeTag", "ReadMe"},
      {"ReadMeExtTag", "ReadMeExt"}, {"RedirectTag", "Redirect"}, {"RunParamsTag", "Params"}};
  return Tags;
}

bool ParseCommandLine(const std::vector<std::string>& Args, TCheckOptions& Options,
                      std::string& Error) {
  bool HaveURL = false;
  bool HavePort = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    std::string Arg = Args[i];
    if (Arg.size() < 2 || Arg[0] != '-' || Arg == "--") {
      if (Arg == "--") {
        if (++i >= Args.size()) break;
        Arg = Args[i];
      }
      if (HaveURL) {
        Error = "more than one HOME-URL: \"" + Options.HomeURL + "\" and \"" + Arg + "\"";
        return false;
      }
      if (Arg.rfind("http://", 0) != 0 || Arg.size() == 7) {
        Error = "HOME-URL must be an http:// address, like http://example.com/update.htm (got \"" +
                Arg + "\")";
        return false;
      }
      Options.HomeURL = Arg;
      HaveURL = true;
      continue;
    }
    // --name=value or --name value.
    std::string Name = Arg;
    std::string Value;
    bool Inline = false;
    if (const std::size_t Eq = Arg.find('='); Arg.rfind("--", 0) == 0 && Eq != std::string::npos) {
      Name = Arg.substr(0, Eq);
      Value = Arg.substr(Eq + 1);
      Inline = true;
    }
    static const char* const Flags[] = {"--help",   "-h",           "--yes", "-y",
                                        "--no-run", "--serve-demo", "--gui"};
    const bool IsFlag = std::find_if(std::begin(Flags), std::end(Flags),
                                     [&](const char* F) { return Name == F; }) != std::end(Flags);
    static const char* const Valued[] = {
        "--current-version", "--tag",         "--proxy", "--save-to",
        "--version-format",  "--date-format", "--port",  "--demo-rate"};
    const bool IsValued = std::find_if(std::begin(Valued), std::end(Valued), [&](const char* F) {
                            return Name == F;
                          }) != std::end(Valued);
    if (!IsFlag && !IsValued) {
      Error = "unknown option " + Name + " (see --help)";
      return false;
    }
    if (IsFlag && Inline) {
      Error = "option " + Name + " takes no value";
      return false;
    }
    if (IsValued && !Inline) {
      if (i + 1 >= Args.size()) {
        Error = "option " + Name + " needs a value (see --help)";
        return false;
      }
      Value = Args[++i];
    }

    if (Name == "--help" || Name == "-h") {
      Options.Help = true;
    } else if (Name == "--yes" || Name == "-y") {
      Options.Yes = true;
    } else if (Name == "--no-run") {
      Options.NoRun = true;
    } else if (Name == "--gui") {
      Options.Gui = true;
    } else if (Name == "--serve-demo") {
      Options.ServeDemo = true;
    } else if (Name == "--current-version") {
      Options.CurrentVersion = Value;
    } else if (Name == "--tag") {
      const std::size_t Eq = Value.find('=');
      std::string Property;
      if (Eq == std::string::npos || !TagProperty(Value.substr(0, Eq), Property)) {
        Error =
            "--tag wants NAME=ENTRY with NAME one of product, version, date, author, "
            "download, readme, readme-ext, redirect, params (got \"" +
            Value + "\")";
        return false;
      }
      Options.Tags.emplace_back(Property, Value.substr(Eq + 1));
    } else if (Name == "--proxy") {
      const std::size_t Colon = Value.rfind(':');
      Options.ProxyHost = Value.substr(0, Colon);
      long Port = 80;
      if (Options.ProxyHost.empty() ||
          (Colon != std::string::npos && !ReadNumber(Value.substr(Colon + 1), 1, 65535, Port))) {
        Error =
            "--proxy wants HOST or HOST:PORT with a port from 1 to 65535 (got \"" + Value + "\")";
        return false;
      }
      Options.ProxyPort = static_cast<std::int32_t>(Port);
    } else if (Name == "--save-to") {
      if (Value.empty()) {
        Error = "--save-to wants a folder";
        return false;
      }
      Options.SaveTo = Value;
    } else if (Name == "--version-format") {
      if (Value == "build")
        Options.VersionFormat = orvvBuildNumber;
      else if (Value == "simple")
        Options.VersionFormat = orvvSimpleString;
      else {
        Error = "--version-format wants build or simple (got \"" + Value + "\")";
        return false;
      }
    } else if (Name == "--date-format") {
      if (Value == "zel")
        Options.DateFormat = orvdZelDate;
      else if (Value == "none")
        Options.DateFormat = orvdNone;
      else {
        Error = "--date-format wants zel or none (got \"" + Value + "\")";
        return false;
      }
    } else if (Name == "--port") {
      long Port = 0;
      if (!ReadNumber(Value, 1, 65535, Port)) {
        Error = "--port wants a port from 1 to 65535 (got \"" + Value + "\")";
        return false;
      }
      Options.Port = static_cast<std::uint16_t>(Port);
      HavePort = true;
    } else if (Name == "--demo-rate") {
      long Rate = 0;
      if (!ReadNumber(Value, 0, 100000000, Rate)) {
        Error = "--demo-rate wants bytes a second from 0 to 100000000 (got \"" + Value + "\")";
        return false;
      }
      Options.DemoRate = static_cast<std::int32_t>(Rate);
    }
  }
  if (Options.Help) return true;
  if (Options.ServeDemo && HaveURL) {
    Error = "--serve-demo runs the demo server only and takes no HOME-URL";
    return false;
  }
  if (Options.Gui && Options.ServeDemo) {
    Error = "--gui is for the update check; --serve-demo shows nothing";
    return false;
  }
  if (HaveURL && (HavePort || Options.DemoRate >= 0)) {
    Error = std::string(HavePort ? "--port" : "--demo-rate") +
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
which offers "Orvane Demo" 1.1 against a current version of 1.0.

The information page carries its data in lines of the form
  <META HTTP-EQUIV="Version" CONTENT="1.1">
one entry a line; the entry names are set with --tag.

Options:
  --current-version V   the version you run now (default 1.0)
                          e.g. --current-version 2.4.0.17
  --tag NAME=ENTRY      the page entry that gives NAME; NAME is one of product,
                        version, date, author, download, readme, readme-ext,
                        redirect, params (defaults: Product, Version, Date,
                        Author, Download, ReadMe, ReadMeExt, Redirect, Params);
                        may be given many times
                          e.g. --tag version=AppVersion --tag download=SetupURL
  --proxy HOST[:PORT]   fetch through this HTTP proxy (port 80 when left out)
                          e.g. --proxy 127.0.0.1:3128
  --save-to DIR         the folder the save prompt proposes (default: the
                        current folder); it must exist and be writable
                          e.g. --save-to ~/Downloads
  --yes, -y             answer every question with its first button (Yes, OK)
                        and take the proposed file name, without asking
                          e.g. orvane-check --yes http://example.com/update.htm
  --gui                 ask in windows on the X display instead of on the
                        terminal (needs $DISPLAY)
                          e.g. orvane-check --gui
  --no-run              do not offer to start the update once it is saved
                          e.g. orvane-check --no-run
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
  --help, -h            this text

Keys: Enter takes the default answer shown in brackets; Escape or Ctrl-C
cancels the download while its progress line runs. When standard input is not
a terminal, every question takes its default answer.

Exit status: 0 an update was downloaded; 1 there is none, or you declined;
2 failure (the reason on standard error).
)";
}
