#include "UpdateCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "DemoTags.h"
#include "Host/Application.h"
#include "Host/BackendChoice.h"
#include "Host/TerminalBackend.h"
#include "Orvane/Orvane.h"

namespace {

// A downloaded script (it starts with "#!") is made executable, so that the install
// question can start it: the shell opens only executables itself.
class TCheckOrvane : public TOrvane {
 public:
  using TOrvane::TOrvane;
  bool DownloadFile(const std::string& FileName) override {
    if (!TOrvane::DownloadFile(FileName)) return false;
    std::ifstream in(LocalFileName(), std::ios::binary);
    char magic[2] = {};
    struct stat st {};
    if (in.read(magic, 2) && magic[0] == '#' && magic[1] == '!' &&
        ::stat(LocalFileName().c_str(), &st) == 0)
      ::chmod(LocalFileName().c_str(), st.st_mode | S_IXUSR);
    return true;
  }
};

std::string OneLine(std::string Text) {
  for (char& c : Text)
    if (c == '\r' || c == '\n') c = ' ';
  return Text;
}

}  // namespace

int RunUpdateCheck(const TCheckOptions& Options, const std::string& HomeURL) {
  TTerminalBackend::TSettings settings;
  settings.AnswerYes = Options.Yes;
  TTerminalBackend backend(settings);
  std::unique_ptr<TUIBackend> windows;
  if (Options.Gui) {
    if (!WindowedBackendBuilt()) {
      std::fprintf(stderr, "orvane-check: --gui: this build has no windowed back-end\n");
      return ExitFailure;
    }
    windows = OpenWindowedBackend();
    if (!windows) {
      std::fprintf(stderr, "orvane-check: --gui: no X display to open (is $DISPLAY set?)\n");
      return ExitFailure;
    }
  }
  TUIBackendScope scope(windows ? *windows : static_cast<TUIBackend&>(backend));
  Application->SetTitle("orvane-check");

  TCheckOrvane orvane(nullptr);
  orvane.SetURL(HomeURL);
  orvane.SetCurrentVersion(Options.CurrentVersion);
  UseDefaultTags(*orvane.InfoTags());
  for (const auto& [property, entry] : Options.Tags)
    SetInfoTag(*orvane.InfoTags(), property, entry);
  if (!Options.ProxyHost.empty()) {
    orvane.SetProxyHost(Options.ProxyHost);
    orvane.SetProxyPort(Options.ProxyPort);
  }
  orvane.SetVersionFormat(Options.VersionFormat);
  orvane.SetDateFormat(Options.DateFormat);
  TOrvOptions flags{orvoDisplayUI, orvoDisplayReadMe, orvoExitDuringUpdate};
  if (!Options.NoRun) flags.Include(orvoRunUpdate);
  orvane.SetOptions(flags);

  std::printf("Checking %s for a version newer than %s\n", HomeURL.c_str(),
              Options.CurrentVersion.c_str());
  std::fflush(stdout);
  const bool downloaded = orvane.CheckForUpdate();
  if (downloaded) {
    std::printf("Saved %s\n", orvane.LocalFileName().c_str());
    return ExitDownloaded;
  }
  if (!orvane.Active()) {
    std::fprintf(
        stderr, "orvane-check: could not read %s: %s\n", HomeURL.c_str(),
        orvane.LastError().empty() ? "error unknown" : OneLine(orvane.LastError()).c_str());
    return ExitFailure;
  }
  if (orvane.ProductVersion().empty()) {
    std::fprintf(stderr,
                 "orvane-check: %s has no \"%s\" entry, so there is no version to compare "
                 "(see --tag)\n",
                 HomeURL.c_str(), orvane.InfoTags()->VersionTag().c_str());
    return ExitFailure;
  }
  if (!orvane.LastError().empty()) {
    std::fprintf(stderr, "orvane-check: %s\n", OneLine(orvane.LastError()).c_str());
    return ExitFailure;
  }
  return ExitNoUpdate;
}
