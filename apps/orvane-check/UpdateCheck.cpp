#include "UpdateCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "Host/Application.h"
#include "Host/TerminalBackend.h"
#ifdef ORV_HAVE_FLTK
#include "Host/FltkBackend.h"
#endif
#include "Orvane/Orvane.h"

namespace {

void SetTag(TOrvTags& Tags, const std::string& Property, const std::string& Entry) {
  static const std::map<std::string, void (TOrvTags::*)(const std::string&)> Setters = {
      {"ProductNameTag", &TOrvTags::SetProductNameTag},
      {"VersionTag", &TOrvTags::SetVersionTag},
      {"DateTag", &TOrvTags::SetDateTag},
      {"AuthorTag", &TOrvTags::SetAuthorTag},
      {"DownloadTag", &TOrvTags::SetDownloadTag},
      {"ReadMeTag", &TOrvTags::SetReadMeTag},
      {"ReadMeExtTag", &TOrvTags::SetReadMeExtTag},
      {"RedirectTag", &TOrvTags::SetRedirectTag},
      {"RunParamsTag", &TOrvTags::SetRunParamsTag}};
  if (const auto It = Setters.find(Property); It != Setters.end()) (Tags.*It->second)(Entry);
}

// A downloaded script (it starts with "#!") is made executable, so that the install
// question can start it: the shell opens only executables itself.
class TCheckOrvane : public TOrvane {
 public:
  using TOrvane::TOrvane;
  bool DownloadFile(const std::string& FileName) override {
    if (!TOrvane::DownloadFile(FileName)) return false;
    std::ifstream In(LocalFileName(), std::ios::binary);
    char Magic[2] = {};
    struct stat St {};
    if (In.read(Magic, 2) && Magic[0] == '#' && Magic[1] == '!' &&
        ::stat(LocalFileName().c_str(), &St) == 0)
      ::chmod(LocalFileName().c_str(), St.st_mode | S_IXUSR);
    return true;
  }
};

std::string OneLine(std::string Text) {
  for (char& C : Text)
    if (C == '\r' || C == '\n') C = ' ';
  return Text;
}

}  // namespace

int RunUpdateCheck(const TCheckOptions& Options, const std::string& HomeURL) {
  TTerminalBackend::TSettings Settings;
  Settings.AnswerYes = Options.Yes;
  TTerminalBackend Backend(Settings);
#ifdef ORV_HAVE_FLTK
  TFltkBackend Windows;
  if (Options.Gui && !Windows.Open()) {
    std::fprintf(stderr, "orvane-check: --gui: no X display to open (is $DISPLAY set?)\n");
    return ExitFailure;
  }
  TUIBackendScope Scope(Options.Gui ? static_cast<TUIBackend&>(Windows) : Backend);
#else
  if (Options.Gui) {
    std::fprintf(stderr, "orvane-check: --gui: this build has no windowed back-end\n");
    return ExitFailure;
  }
  TUIBackendScope Scope(Backend);
#endif
  Application->SetTitle("orvane-check");

  TCheckOrvane Orvane(nullptr);
  Orvane.SetURL(HomeURL);
  Orvane.SetCurrentVersion(Options.CurrentVersion);
  for (const auto& [Property, Entry] : DefaultTags()) SetTag(*Orvane.InfoTags(), Property, Entry);
  for (const auto& [Property, Entry] : Options.Tags) SetTag(*Orvane.InfoTags(), Property, Entry);
  if (!Options.ProxyHost.empty()) {
    Orvane.SetProxyHost(Options.ProxyHost);
    Orvane.SetProxyPort(Options.ProxyPort);
  }
  Orvane.SetVersionFormat(Options.VersionFormat);
  Orvane.SetDateFormat(Options.DateFormat);
  TOrvOptions Flags{orvoDisplayUI, orvoDisplayReadMe, orvoExitDuringUpdate};
  if (!Options.NoRun) Flags.Include(orvoRunUpdate);
  Orvane.SetOptions(Flags);

  std::printf("Checking %s for a version newer than %s\n", HomeURL.c_str(),
              Options.CurrentVersion.c_str());
  std::fflush(stdout);
  const bool Downloaded = Orvane.CheckForUpdate();
  if (Downloaded) {
    std::printf("Saved %s\n", Orvane.LocalFileName().c_str());
    return ExitDownloaded;
  }
  if (!Orvane.Active()) {
    std::fprintf(
        stderr, "orvane-check: could not read %s: %s\n", HomeURL.c_str(),
        Orvane.LastError().empty() ? "error unknown" : OneLine(Orvane.LastError()).c_str());
    return ExitFailure;
  }
  if (Orvane.ProductVersion().empty()) {
    std::fprintf(stderr,
                 "orvane-check: %s has no \"%s\" entry, so there is no version to compare "
                 "(see --tag)\n",
                 HomeURL.c_str(), Orvane.InfoTags()->VersionTag().c_str());
    return ExitFailure;
  }
  if (!Orvane.LastError().empty()) {
    std::fprintf(stderr, "orvane-check: %s\n", OneLine(Orvane.LastError()).c_str());
    return ExitFailure;
  }
  return ExitNoUpdate;
}
