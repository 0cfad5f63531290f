// orvane-demo: a small desktop program that checks for its own update. Its window has a
// "Help > Check for Update..." command that runs the check against the demo server built
// in (or the information page named on the command line), a status line with the
// download's progress, and a wait control counting down in the corner.
//
//   orvane-demo [HOME-URL] [--demo-rate BYTES] [--save-to DIR]
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "DemoServer.h"
#include "Host/Application.h"
#include "Host/FltkBackend.h"
#include "Host/Forms.h"
#include "Host/StdCtrls.h"
#include "Orvane/Orvane.h"
#include "Wait/Wait.h"

namespace {

int Fail(const std::string& Line) {
  std::fprintf(stderr, "orvane-demo: %s\n", Line.c_str());
  return 2;
}

// 1234567 as "1,234,567".
std::string Grouped(std::int64_t N) {
  const std::string Digits = std::to_string(N < 0 ? -N : N);
  std::string Out = N < 0 ? "-" : "";
  for (size_t I = 0; I < Digits.size(); ++I) {
    if (I > 0 && (Digits.size() - I) % 3 == 0) Out += ',';
    Out += Digits[I];
  }
  return Out;
}

struct TDemoWindow {
  TForm* Form = nullptr;
  TLabel* Status = nullptr;
  TWait* Wait = nullptr;
  std::string HomeURL;
  bool Checking = false;

  void Build() {
    Form = new TForm(Application);
    Form->SetCaption("Orvane Demo 1.0");
    Form->SetBorderStyle(bsSingle);
    Form->SetBorderIcons({biSystemMenu, biMinimize});
    Form->SetClientWidth(480);
    Form->SetClientHeight(200);
    Form->SetPosition(poScreenCenter);

    auto* Intro = new TLabel(Form);
    Intro->SetParent(Form);
    Intro->SetBounds(16, 16, 448, 60);
    Intro->SetCaption(
        "This is Orvane Demo, version 1.0.\nChoose Help > Check for Update... to look for a "
        "newer version.");

    Status = new TLabel(Form);
    Status->SetParent(Form);
    // Bottom left, beside the count-down: clear of the forms the check centres on the
    // screen.
    Status->SetBounds(16, 176, 248, 18);
    Status->SetCaption("Ready.");

    Wait = new TWait(Form);
    Wait->SetParent(Form);
    Wait->SetBounds(480 - 16 - 192, 200 - 16 - 32, 192, 32);
    Wait->SetCaption("60");
    Wait->SetInterval(1000);
    // The corner's count-down starts over each time it runs out.
    Wait->OnTimeout = [this](TObject*) { Wait->Start(); };
    Wait->Start();
  }

  void Check() {
    if (Checking) return;
    Checking = true;
    Status->SetCaption("Checking for an update...");
    TOrvane Orvane(Form);
    Orvane.SetURL(HomeURL);
    Orvane.SetCurrentVersion("1.0");
    Orvane.SetOptions(TOrvOptions{orvoDisplayUI, orvoDisplayReadMe});
    // The entry names of the demo page (and of orvane-check's defaults).
    TOrvTags& Tags = *Orvane.InfoTags();
    Tags.SetProductNameTag("Product");
    Tags.SetVersionTag("Version");
    Tags.SetDateTag("Date");
    Tags.SetAuthorTag("Author");
    Tags.SetDownloadTag("Download");
    Tags.SetReadMeTag("ReadMe");
    Tags.SetReadMeExtTag("ReadMeExt");
    Tags.SetRedirectTag("Redirect");
    Tags.SetRunParamsTag("Params");
    Orvane.OnDownloadProgress = [this](TObject*, std::int32_t Received, std::int32_t Size) {
      const std::int64_t Percent = Size > 0 ? std::int64_t{Received} * 100 / Size : 0;
      Status->SetCaption("Downloading: " + Grouped(Received) + " of " + Grouped(Size) + " bytes (" +
                         std::to_string(Percent) + "%)");
    };
    const bool Downloaded = Orvane.CheckForUpdate();
    if (Downloaded)
      Status->SetCaption("Saved " + Orvane.LocalFileName());
    else if (!Orvane.LastError().empty())
      Status->SetCaption("Check failed: " + Orvane.LastError());
    else if (!Orvane.ProductVersion().empty() && !Orvane.IsUpdateAvailable())
      Status->SetCaption("You have the newest version.");
    else
      Status->SetCaption("No update downloaded.");
    Checking = false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string HomeURL, SaveTo;
  std::int32_t Rate = 2000;
  for (int I = 1; I < argc; ++I) {
    const std::string Arg = argv[I];
    if ((Arg == "--demo-rate" || Arg == "--save-to") && I + 1 < argc) {
      const std::string Value = argv[++I];
      if (Arg == "--save-to") {
        SaveTo = Value;
      } else {
        char* End = nullptr;
        const long V = std::strtol(Value.c_str(), &End, 10);
        if (Value.empty() || *End != 0 || V < 0 || V > 100000000)
          return Fail("--demo-rate wants bytes a second from 0 to 100000000");
        Rate = static_cast<std::int32_t>(V);
      }
    } else if (Arg == "--help" || Arg == "-h") {
      std::puts(
          "Usage: orvane-demo [HOME-URL] [--demo-rate BYTES] [--save-to DIR]\n"
          "Opens the demo's window; Help > Check for Update... checks HOME-URL, or the\n"
          "demo server built in when none is given (its update file sent at BYTES a\n"
          "second, default 2000). The save dialog starts in DIR (default: here).");
      return 0;
    } else if (Arg.rfind("http://", 0) == 0 && HomeURL.empty()) {
      HomeURL = Arg;
    } else {
      return Fail("unknown argument " + Arg + " (see --help)");
    }
  }
  if (!SaveTo.empty() && ::chdir(SaveTo.c_str()) != 0)
    return Fail("--save-to: cannot enter \"" + SaveTo + "\"");

  UseBestBackend();
  TFltkBackend* Windows = InstalledFltkBackend();
  if (!Windows) return Fail("no X display to open (is $DISPLAY set?)");
  Application->SetTitle("Orvane Demo");

  std::unique_ptr<TDemoServer> Server;
  if (HomeURL.empty()) {
    TDemoServer::TSettings Settings;
    Settings.UpdateRate = Rate;
    Server = std::make_unique<TDemoServer>(Settings);
    if (!Server->Start()) return Fail("demo server: " + Server->Error());
    HomeURL = Server->PageURL();
  }

  TDemoWindow Demo;
  Demo.HomeURL = HomeURL;
  Demo.Build();
  Windows->SetFormMenu(*Demo.Form, {{"&Help/&Check for Update...", [&Demo] { Demo.Check(); }}});
  std::printf("orvane-demo: checking %s\n", HomeURL.c_str());
  std::fflush(stdout);
  // Closing the window ends its modal run, and the program with it.
  Demo.Form->ShowModal();
  delete Demo.Form;
  return 0;
}
