// The command line of orvane-check: what it is asked to do, and the table that reads it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Orvane/OrvTypes.h"

struct TCheckOptions {
  std::string HomeURL;  // empty: check against the embedded demo server
  std::string CurrentVersion = "1.0";
  // Tag property (as TOrvTags names it, "VersionTag") and the entry name it is given,
  // in the order given, applied over the defaults.
  std::vector<std::pair<std::string, std::string>> Tags;
  std::string ProxyHost;
  std::int32_t ProxyPort = 80;
  // Replaces the environment's no_proxy.
  std::string NoProxy;
  bool HasNoProxy = false;
  std::string SaveTo;  // empty: the current folder
  std::string CAFile;  // trusted authorities for https; empty: the system's
  bool Yes = false;
  bool NoRun = false;
  // Start the update without a person agreeing: only one whose page is signed by
  // PublicKey.
  bool RunUnattended = false;
  // The publisher's Ed25519 public keys (Base64), one a line: the page must be signed
  // with one of them. Empty: none given (the demo check then uses its server's key).
  std::string PublicKey;
  // The product the signed page must be for; empty: not checked.
  std::string ExpectedProduct;
  // A signed page without an expiry is accepted.
  bool AllowUnexpiring = false;
  bool Gui = false;  // windows on the X display instead of the terminal
  // The check's time bounds (TOrvane's LowSpeedLimit, LowSpeedTime, and both PageMaxTime
  // and DownloadMaxTime); -1: the component's default.
  std::int32_t SpeedLimit = -1;
  std::int32_t SpeedTime = -1;
  std::int32_t MaxTime = -1;
  TOrvVersionFormat VersionFormat = orvvBuildNumber;
  TOrvDateFormat DateFormat = orvdZelDate;
  bool ServeDemo = false;
  std::uint16_t Port = 0;      // demo server; 0: a free port
  std::int32_t DemoRate = -1;  // demo server's update file rate; -1: the mode's default
  // Scripts and schedules.
  bool Json = false;           // one JSON object on standard output, nothing else there
  bool Quiet = false;          // nothing but errors
  bool OfferSkip = false;      // the download question also offers skip / remind later
  std::int32_t IfDue = -1;     // check only when the last one is this many seconds old
  std::string StateFile;       // empty: the default under $XDG_STATE_HOME
  std::string SkipVersion;     // only record this version as skipped
  bool ForgetSkipped = false;  // only forget the skipped version
  std::string RollBack;        // only put PATH.previous back as PATH
};

// The table that fills Options: the parser, --help, --version and the manual page.
cli::TProgram CheckProgram(TCheckOptions& Options);
// What the options say together that none says alone; empty when they fit.
std::string OptionsFault(const TCheckOptions& Options);
