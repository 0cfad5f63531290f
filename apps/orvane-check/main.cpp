// orvane-check: runs an update check from the command line, against the information page
// the user names or against the demo server built into the program.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DemoServer.h"
#include "Host/Application.h"
#include "UpdateCheck.h"

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

// The folder the save prompt starts in; checked before anything is fetched, so that a
// bad one costs no download.
bool EnterSaveFolder(const std::string& Dir, std::string& Error) {
  struct stat St {};
  if (::stat(Dir.c_str(), &St) != 0) {
    Error = "--save-to: folder \"" + Dir + "\" " +
            (errno == ENOENT ? "does not exist" : std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(St.st_mode)) {
    Error = "--save-to: \"" + Dir + "\" is not a folder";
    return false;
  }
  // Permission bits do not tell for root or for a read-only mount: try it.
  std::string Probe = Dir + "/.orvane-check-XXXXXX";
  const int Fd = ::mkstemp(Probe.data());
  if (Fd < 0) {
    Error = "--save-to: folder \"" + Dir + "\" is not writable (" + std::strerror(errno) + ")";
    return false;
  }
  ::close(Fd);
  ::unlink(Probe.c_str());
  if (::chdir(Dir.c_str()) != 0) {
    Error = "--save-to: cannot enter \"" + Dir + "\": " + std::strerror(errno);
    return false;
  }
  return true;
}

int Check(const TCheckOptions& Options) {
  std::string Error;
  if (!Options.SaveTo.empty() && !EnterSaveFolder(Options.SaveTo, Error)) return Fail(Error);
  if (!Options.HomeURL.empty()) return RunUpdateCheck(Options, Options.HomeURL);
  // No page named: the demo server runs on this thread's loop, beside the check.
  TDemoServer::TSettings Settings;
  Settings.Port = Options.Port;
  // Slow enough for the spinner and the progress line to be seen.
  Settings.UpdateRate = Options.DemoRate < 0 ? 200 : Options.DemoRate;
  Settings.ResponseDelayMs = 700;
  TDemoServer Server(Settings);
  if (!Server.Start()) return Fail("demo server: " + Server.Error());
  std::printf("Demo server: %s\n", Server.PageURL().c_str());
  return RunUpdateCheck(Options, Server.PageURL());
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
  return Check(Options);
}
