// orvane-check: runs an update check from the command line, against the information page
// the user names or against the demo server built into the program.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DemoServer.h"
#include "Host/Application.h"

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void RequestStop(int) {
  StopRequested = 1;
}

int Fail(const std::string& Line) {
  std::fprintf(stderr, "orvane-check: %s\n", Line.c_str());
  return 2;
}

int ServeDemo(const TCheckOptions& Options) {
  TDemoServer::TSettings Settings;
  Settings.Port = Options.Port;
  Settings.UpdateRate = Options.DemoRate < 0 ? 0 : Options.DemoRate;
  TDemoServer Server(Settings);
  if (!Server.Start()) return Fail("demo server: " + Server.Error());
  std::printf("Demo server: %s (Ctrl-C ends it)\n", Server.PageURL().c_str());
  std::fflush(stdout);
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  // The server's own tick wakes the loop at least ten times a second.
  while (!StopRequested && !Application->Terminated()) Application->HandleMessage();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TCheckOptions Options;
  std::string Error;
  if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), Options, Error))
    return Fail(Error);
  if (Options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (Options.ServeDemo) return ServeDemo(Options);
  return Fail("the update check is not available in this build; use --serve-demo");
}
