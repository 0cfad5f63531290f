// orvane-demo: a small desktop program that checks for its own update. Its window has a
// "Help > Check for Update..." command that runs the check against the demo server built
// in (or the information page named on the command line), a status line with the
// download's progress, and a wait control counting down in the corner.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "CommandLine.h"
#include "DemoContent.h"
#include "DemoServer.h"
#include "DemoTags.h"
#include "Host/Application.h"
#include "Host/BackendChoice.h"
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
  const std::string digits = std::to_string(N < 0 ? -N : N);
  std::string out = N < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The status line is one line beside the count-down: this many characters fit.
constexpr size_t StatusChars = 32;
// What the HTTP client reports for a request that was aborted: the progress form's Cancel.
constexpr char AbortedReason[] = "Connection aborted on request";

// Text that fits the status line: what is too long loses its middle, where a path has the
// folders that matter least, so that its start and the file name stay.
std::string FitStatus(const std::string& Text) {
  if (Text.size() <= StatusChars) return Text;
  const size_t keep = StatusChars - 3;
  const size_t tail = keep * 2 / 3;
  return Text.substr(0, keep - tail) + "..." + Text.substr(Text.size() - tail);
}

// Bytes a second that make the demo's download last about two seconds: long enough to
// see the progress form, as the terminal demo shows its progress line.
std::int32_t PacedRate() {
  return std::max<std::int32_t>(1, static_cast<std::int32_t>(DemoUpdateSize() / 2));
}

struct TDemoWindow {
  TForm* Form = nullptr;
  TLabel* Status = nullptr;
  TWait* Wait = nullptr;
  std::string HomeURL;
  std::string PublicKey;  // the demo server's, when it runs
  bool Checking = false;

  void Build() {
    Form = new TForm(Application);
    Form->SetCaption("Orvane Demo 1.0");
    Form->SetBorderStyle(bsSingle);
    Form->SetBorderIcons({biSystemMenu, biMinimize});
    Form->SetClientWidth(480);
    Form->SetClientHeight(200);
    Form->SetPosition(poScreenCenter);

    auto* intro = new TLabel(Form);
    intro->SetParent(Form);
    intro->SetBounds(16, 16, 448, 60);
    intro->SetCaption(
        "This is Orvane Demo, version 1.0.\nChoose Help > Check for Update... to look for a "
        "newer version.");

    Status = new TLabel(Form);
    Status->SetParent(Form);
    // Bottom left, beside the count-down: clear of the forms the check centres on the
    // screen.
    Status->SetBounds(16, 176, 248, 18);
    SetStatus("Ready.");

    Wait = new TWait(Form);
    Wait->SetParent(Form);
    Wait->SetBounds(480 - 16 - 192, 200 - 16 - 32, 192, 32);
    Wait->SetCaption("60");
    Wait->SetInterval(1000);
    // The corner's count-down starts over each time it runs out.
    Wait->OnTimeout = [this](TObject*) { Wait->Start(); };
    Wait->Start();
  }

  // Shows Text on the status line; an outcome (Final) also goes to standard output.
  void SetStatus(const std::string& Text, bool Final = false) {
    Status->SetCaption(FitStatus(Text));
    if (!Final) return;
    std::printf("orvane-demo: %s\n", Status->Caption().c_str());
    std::fflush(stdout);
  }

  void Check() {
    if (Checking) return;
    Checking = true;
    SetStatus("Checking for an update...");
    TOrvane orvane(Form);
    orvane.SetURL(HomeURL);
    orvane.SetPublicKey(PublicKey);
    orvane.SetCurrentVersion("1.0");
    orvane.SetOptions(TOrvOptions{orvoDisplayUI, orvoDisplayReadMe});
    UseDefaultTags(*orvane.InfoTags());
    orvane.OnDownloadProgress = [this](TObject*, std::int32_t Received, std::int32_t Size) {
      const std::int64_t percent = Size > 0 ? std::int64_t{Received} * 100 / Size : 0;
      SetStatus("Received " + Grouped(Received) + " of " + Grouped(Size) + " bytes (" +
                std::to_string(percent) + "%)");
    };
    const bool downloaded = orvane.CheckForUpdate();
    if (downloaded)
      SetStatus("Saved " + orvane.LocalFileName(), true);
    else if (orvane.LastError() == AbortedReason)
      SetStatus("Download cancelled.", true);
    else if (!orvane.LastError().empty())
      SetStatus("Check failed: " + orvane.LastError(), true);
    else if (!orvane.ProductVersion().empty() && !orvane.IsUpdateAvailable())
      SetStatus("You have the newest version.", true);
    else
      SetStatus("No update downloaded.", true);
    Checking = false;
  }
};

struct TDemoOptions {
  std::string HomeURL, SaveTo;
  std::int32_t Rate = PacedRate();
  // As the terminal demo: the please-wait forms of the page and the read-me can be seen.
  std::uint32_t DelayMs = 700;
};

cli::TProgram DemoProgram(TDemoOptions& O) {
  std::vector<cli::TOption> options = {
      {"demo-rate", 0, "BYTES", cli::StoreNumber(O.Rate, 100000000),
       "the built-in server sends the update file at BYTES a second (0: as fast as it "
       "can; by default at a pace that lets its download take two seconds)"},
      {"demo-delay", 0, "MS", cli::StoreNumber(O.DelayMs, 60000),
       "the built-in server answers the page and the read-me MS milliseconds late (700 by "
       "default)"},
      {"save-to", 0, "DIR", cli::StoreIn(O.SaveTo),
       "the folder the save dialog starts in (default: the current one)"},
  };
  auto homeUrl = [&O](const std::string& Word) {
    if (!O.HomeURL.empty()) return "more than one HOME-URL: \"" + Word + "\"";
    if (Word.rfind("http://", 0) != 0 && Word.rfind("https://", 0) != 0)
      return "HOME-URL must be an http:// or https:// address, not \"" + Word + "\"";
    O.HomeURL = Word;
    return std::string();
  };
  return {"orvane-demo",
          "[OPTION...] [HOME-URL]",
          "a desktop program that checks for its own update",
          "Opens the demo's window; Help > Check for Update... checks the information page at "
          "HOME-URL, or the demo server built in when none is given, and saves the update "
          "where the save dialog says. The outcome of each check is also printed on standard "
          "output. Needs an X display ($DISPLAY).",
          std::move(options),
          homeUrl,
          {{"Exit status",
            "",
            {{"0", "the window was closed"},
             {"2", "the command line does not fit, or no window could be opened"}}}}};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TDemoOptions options;
  if (const auto status = cli::ParseCommandLine(DemoProgram(options), argc, argv)) return *status;
  std::string& homeUrl = options.HomeURL;
  const std::string& saveTo = options.SaveTo;
  if (!saveTo.empty() && ::chdir(saveTo.c_str()) != 0)
    return Fail("--save-to: cannot enter \"" + saveTo + "\"");

  if (!WindowedBackendBuilt()) return Fail("this build has no windowed back-end");
  UseBestBackend();
  if (!WindowedBackendInstalled()) return Fail("no X display to open (is $DISPLAY set?)");
  Application->SetTitle("Orvane Demo");

  std::unique_ptr<TDemoServer> server;
  if (homeUrl.empty()) {
    TDemoServer::TSettings settings;
    settings.UpdateRate = options.Rate;
    settings.ResponseDelayMs = options.DelayMs;
    server = std::make_unique<TDemoServer>(settings);
    if (!server->Start()) return Fail("demo server: " + server->Error());
    homeUrl = server->PageURL();
  }

  TDemoWindow demo;
  demo.HomeURL = homeUrl;
  if (server) demo.PublicKey = server->PublicKey();
  demo.Build();
  SetFormMenu(*demo.Form, {{"&Help/&Check for Update...", [&demo] { demo.Check(); }}});
  std::printf("orvane-demo: checking %s\n", homeUrl.c_str());
  std::fflush(stdout);
  // Closing the window ends its modal run, and the program with it.
  demo.Form->ShowModal();
  delete demo.Form;
  return 0;
}
