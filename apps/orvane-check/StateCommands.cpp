#include "StateCommands.h"

#include <cstdio>

#include "Host/TerminalText.h"
#include "Orvane/Orvane.h"
#include "Orvane/Relaunch.h"
#include "UpdateCheck.h"

namespace {

int Failed(const std::string& Why) {
  std::fprintf(stderr, "orvane-check: %s\n", TerminalSafeText(Why).c_str());
  return ExitFailure;
}

}  // namespace

int RunStateCommand(const TCheckOptions& Options) {
  if (!Options.RollBack.empty()) {
    std::string error;
    if (!RollBackReplacement(Options.RollBack, error)) return Failed(error);
    std::printf("%s is the version it was before the update again\n",
                TerminalSafeText(Options.RollBack).c_str());
    return 0;
  }
  if (Options.SkipVersion.empty() && !Options.ForgetSkipped) return -1;
  // The same state file a check with --if-due reads.
  TOrvane orvane(nullptr);
  orvane.SetApplicationId("orvane-check");
  orvane.SetStateFile(Options.StateFile);
  const bool done =
      Options.ForgetSkipped ? orvane.ForgetSkipped() : orvane.SkipVersion(Options.SkipVersion);
  if (!done) return Failed(orvane.LastError());
  if (Options.ForgetSkipped)
    std::printf("No version is skipped now (%s)\n",
                TerminalSafeText(orvane.StateFilePath()).c_str());
  else
    std::printf("Version %s will not be offered by --if-due (%s)\n",
                TerminalSafeText(Options.SkipVersion).c_str(),
                TerminalSafeText(orvane.StateFilePath()).c_str());
  return 0;
}
