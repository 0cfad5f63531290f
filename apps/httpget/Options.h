// httpget's command line: what it is asked to do, and the table that reads it.
#pragma once

#include <cstdint>
#include <string>

#include "CommandLine.h"

struct THttpGetOptions {
  std::string Url;
  std::string Output;       // empty: standard output
  bool RemoteName = false;  // -O: the file named by the URL's last segment
  bool Head = false;
  bool Include = false;  // the response headers before the body
  bool Silent = false;
  std::string PostFile;  // "-": standard input
  std::string ContentType;
  bool HasContentType = false;
  std::string Proxy;
  std::string User;
  std::string ProxyUser;
  std::string Agent;
  bool Verbose = false;
  std::int32_t Timeout = 0;  // 0: none
  std::int32_t MaxRedirs = 20;
  // 0: no bound. Either of the speed pair alone takes the other's default, as curl's do.
  std::int32_t SpeedLimit = 0;
  std::int32_t SpeedTime = 0;
  std::int32_t MaxTime = 0;
  std::string CAFile;  // trusted authorities for https instead of the system's
  bool Insecure = false;
};

// The table that fills Options.
cli::TProgram HttpGetProgram(THttpGetOptions& Options);
// What the options say together that none says alone; empty when they fit.
std::string OptionsFault(const THttpGetOptions& Options);
