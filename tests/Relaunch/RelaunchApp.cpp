// A program shipped as one file that updates itself: built twice, as version 1 and as
// version 2. Version 1 checks PAGE (signed with KEY) and, with nobody to ask, replaces
// itself and starts version 2 with its own arguments. Each version appends one line to
// RESULT: "version=N args=A|B|..." and, for version 1, how its check ended.
// Usage: relaunch-app PAGE KEY RESULT [ARG...]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Host/Application.h"
#include "Host/TerminalBackend.h"
#include "Orvane/Orvane.h"
#include "Orvane/Relaunch.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: relaunch-app PAGE KEY RESULT [ARG...]\n");
    return 2;
  }
  std::string line = "version=" RELAUNCH_VERSION " args=";
  for (int i = 1; i < argc; ++i) line += (i > 1 ? "|" : "") + std::string(argv[i]);
  std::ofstream result(argv[3], std::ios::app);
  if (std::string(RELAUNCH_VERSION) == "2") {
    // Started once: the old version is no longer needed to go back to, unless the test
    // plays a start that failed.
    if (!std::getenv("RELAUNCH_PLAY_FAILED_START")) ForgetReplaced(RunningProgramFile());
    result << line << "\n";
    return 0;
  }
  TTerminalBackend::TSettings settings;
  settings.AnswerYes = true;  // install, and restart
  TTerminalBackend backend(settings);
  TUIBackendScope scope(backend);
  Application->SetTitle("relaunch-app");
  TOrvane orvane(nullptr);
  orvane.SetURL(argv[1]);
  orvane.SetPublicKey(argv[2]);
  orvane.SetCurrentVersion(RELAUNCH_VERSION);
  TOrvTags tags;
  tags.SetProductNameTag("Product");
  tags.SetVersionTag("Version");
  tags.SetDateTag("Date");
  tags.SetDownloadTag("Download");
  orvane.SetInfoTags(&tags);
  orvane.SetOptions({orvoRunUpdate, orvoReplaceAndRelaunch});
  const bool downloaded = orvane.CheckForUpdate();
  result << line << " downloaded=" << downloaded << " saved=" << orvane.LocalFileName()
         << " outcome=" << static_cast<int>(orvane.LastResult()) << "\n";
  return 0;
}
