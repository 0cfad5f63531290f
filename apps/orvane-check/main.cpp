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

#include "CheckOptions.h"
#include "DemoContent.h"
#include "DemoServer.h"
#include "Host/Application.h"
#include "StateCommands.h"
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
  TDemoServer::TSettings settings;
  settings.Port = Options.Port;
  settings.UpdateRate = Options.DemoRate < 0 ? 0 : Options.DemoRate;
  TDemoServer server(settings);
  if (!server.Start()) return Fail("demo server: " + server.Error());
  std::printf("Demo server: %s (Ctrl-C ends it)\n", server.PageURL().c_str());
  std::printf("Public key: %s (check with --public-key)\n", server.PublicKey().c_str());
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
  struct stat st {};
  if (::stat(Dir.c_str(), &st) != 0) {
    Error = "--save-to: folder \"" + Dir + "\" " +
            (errno == ENOENT ? "does not exist" : std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    Error = "--save-to: \"" + Dir + "\" is not a folder";
    return false;
  }
  // Permission bits do not tell for root or for a read-only mount: try it.
  std::string probe = Dir + "/.orvane-check-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    Error = "--save-to: folder \"" + Dir + "\" is not writable (" + std::strerror(errno) + ")";
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  if (::chdir(Dir.c_str()) != 0) {
    Error = "--save-to: cannot enter \"" + Dir + "\": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Path as the folder the program was started in reads it, whatever folder the check
// moves to afterwards.
std::string FromStartFolder(const std::string& Path) {
  if (Path.empty() || Path[0] == '/') return Path;
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + Path : Path;
}

int Check(TCheckOptions Options, std::FILE* JsonOut) {
  std::string error;
  Options.CAFile = FromStartFolder(Options.CAFile);
  if (!Options.SaveTo.empty() && !EnterSaveFolder(Options.SaveTo, error)) return Fail(error);
  if (!Options.HomeURL.empty()) return RunUpdateCheck(Options, Options.HomeURL, JsonOut);
  // No page named: the demo server runs on this thread's loop, beside the check.
  TDemoServer::TSettings settings;
  settings.Port = Options.Port;
  // Slow enough for the spinner and the progress line to be seen.
  settings.UpdateRate = Options.DemoRate < 0 ? 200 : Options.DemoRate;
  settings.ResponseDelayMs = 700;
  TDemoServer server(settings);
  if (!server.Start()) return Fail("demo server: " + server.Error());
  std::printf("Demo server: %s\n", server.PageURL().c_str());
  // The demo check trusts the demo server's key, as an application trusts the key it was
  // built with.
  TCheckOptions options = Options;
  if (options.PublicKey.empty()) options.PublicKey = server.PublicKey();
  if (options.ExpectedProduct.empty()) options.ExpectedProduct = DemoProduct;
  return RunUpdateCheck(options, server.PageURL(), JsonOut);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TCheckOptions options;
  const cli::TProgram program = CheckProgram(options);
  if (const auto code = cli::ParseCommandLine(program, argc, argv)) return *code;
  if (const std::string fault = OptionsFault(options); !fault.empty())
    return cli::UsageError(program, fault);
  if (options.ServeDemo) return ServeDemo(options);
  options.StateFile = FromStartFolder(options.StateFile);
  options.RollBack = FromStartFolder(options.RollBack);
  if (const int code = RunStateCommand(options); code >= 0) return code;
  // Scripts read standard output: what the check tells a person goes nowhere, and only
  // the object of --json reaches it.
  std::FILE* jsonOut = stdout;
  if (options.Json || options.Quiet) {
    const int kept = ::dup(STDOUT_FILENO);
    if (kept < 0 || !(jsonOut = ::fdopen(kept, "w")) || !std::freopen("/dev/null", "w", stdout))
      return Fail(std::string("cannot set standard output aside: ") + std::strerror(errno));
  }
  return Check(options, jsonOut);
}
