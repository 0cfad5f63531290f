#include "UpdateCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "DemoTags.h"
#include "Host/Application.h"
#include "Host/BackendChoice.h"
#include "Host/FileUtils.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalBackend.h"
#include "Host/TerminalText.h"
#include "HttpProt/HttpCli.h"
#include "JsonResult.h"
#include "Orvane/Orvane.h"
#include "Orvane/WebDlProgress.h"
#include "StopSignals.h"

namespace {

// Whether a file starts with "#!".
bool IsScript(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  char magic[2] = {};
  return in.read(magic, 2) && magic[0] == '#' && magic[1] == '!';
}

// What failed, told in the system's words when the client's last request failed below
// HTTP: the component keeps the client's reason phrase as LastError, its own text for
// callers. A status keeps the server's phrase, as the page's box shows it.
std::string FailureText(const TOrvane& Orvane) {
  const THttpCli* cli = TOrvane::SharedHttpCli();
  if (cli && cli->FailureKind() != hfNone && cli->FailureKind() != hfHttpStatus &&
      Orvane.LastError() == TOrvane::FailureReason(*cli))
    return cli->FailureMessage();
  return Orvane.LastError().empty() ? "error unknown" : Orvane.LastError();
}

// The check as orvane-check runs it: a downloaded script is made executable when a person
// may start it (the shell opens only executables itself); the product found is said
// before the first question; a cancel, by the user or by a signal, is told apart from a
// failure.
class TCheckOrvane : public TOrvane {
 public:
  using TOrvane::TOrvane;
  bool MayStart = false;
  bool Cancelled = false;
  // Started without a person agreeing: only an update whose signature was verified.
  bool Unattended = false;
  // --if-due found the last check too recent to check again.
  bool NotDue = false;

  bool GetFileInfo() override {
    const bool wasActive = Active();
    const bool result = TOrvane::GetFileInfo();
    if (!wasActive && Active() && !ProductVersion().empty()) {
      SayProduct();
      SayChecks();
    }
    return result;
  }
  bool DownloadFile(const std::string& FileName) override {
    if (!TOrvane::DownloadFile(FileName)) return false;
    if (DownloadChecked()) {
      std::printf("file verified: %s bytes, SHA-256 as the page gives\n",
                  FormatThousands(static_cast<std::int64_t>(std::stoull(DownloadSize()))).c_str());
      std::fflush(stdout);
    }
    if (Unattended && !SignatureVerified()) {
      MayStart = false;
      SetOptions(Options() - TOrvOptions{orvoRunUpdate});
    }
    struct stat st {};
    if (MayStart && IsScript(LocalFileName()) && ::stat(LocalFileName().c_str(), &st) == 0)
      ::chmod(LocalFileName().c_str(), st.st_mode | S_IXUSR);
    return true;
  }
  void ReadMeExtSkipped(const std::string& Reason) override {
    std::printf("%s\n", Shown(Reason).c_str());
    std::fflush(stdout);
  }
  // A read-me that is not shown says why, on its own line, and the check goes on.
  TCustomForm* CreateReadMe() override {
    TCustomForm* form = TOrvane::CreateReadMe();
    if (!form && !LastError().empty()) {
      std::printf("read-me not shown: %s\n", Shown(LastError()).c_str());
      std::fflush(stdout);
    }
    return form;
  }
  TWebDlProgress* CreateProgress() override {
    TWebDlProgress* form = TOrvane::CreateProgress();
    auto click = form->btnCancel->OnClick;
    form->btnCancel->OnClick = [this, click](TObject* Sender) {
      Cancelled = true;
      if (click) click(Sender);
    };
    return form;
  }
  // Ends the check the way the progress form's Cancel does, and refuses every question
  // that would follow.
  void Stop() {
    Cancelled = true;
    if (TWebDlProgress* p = ProgressForm(); p && !p->Cancelled) p->btnCancel->Click();
    Application->Terminate();
  }

 private:
  void SayProduct() {
    std::string line = "Found ";
    if (!ProductName().empty()) line += ProductName() + " ";
    line += ProductName().empty() ? "version " + ProductVersion() : ProductVersion();
    if (!ProductDateStr().empty()) line += " (" + ProductDateStr() + ")";
    if (!ProductAuthor().empty()) line += " by " + ProductAuthor();
    std::printf("%s\n", TerminalSafeText(OneLine(line)).c_str());
    std::fflush(stdout);
  }
  // What the page's signature or its file's hash will hold the download to.
  void SayChecks() {
    if (SignatureVerified() && ExpectedProduct().empty() && !ProductUnchecked) {
      // A page the same key signed for another product would pass: said once a check.
      ProductUnchecked = true;
      std::printf(
          "product not checked (no --product): a page signed with this key for any "
          "product is accepted\n");
    }
    if (SignatureVerified())
      std::printf("signature verified: the file must be %s bytes with SHA-256 %s\n",
                  Shown(DownloadSize()).c_str(), Shown(DownloadSHA256()).c_str());
    else if (DownloadChecked())
      std::printf(
          "no signature checked (no --public-key): the file must be %s bytes with SHA-256 %s, "
          "which catches corruption, not an attacker\n",
          Shown(DownloadSize()).c_str(), Shown(DownloadSHA256()).c_str());
    std::fflush(stdout);
  }
  static std::string Shown(const std::string& Text) { return TerminalSafeText(OneLine(Text)); }
  bool ProductUnchecked = false;

 public:
  static std::string OneLine(std::string Text) {
    for (char& c : Text)
      if (c == '\r' || c == '\n') c = ' ';
    return Text;
  }
};

// Text from the server, fit for one line of standard error.
std::string Shown(const std::string& Text) {
  return TerminalSafeText(TCheckOrvane::OneLine(Text));
}

// Path as one word for a shell.
std::string Quoted(const std::string& Path) {
  std::string q = "'";
  for (char c : Path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The check of --if-due: only when due, never offering a skipped version. A damaged state
// file is said, and costs nothing else.
bool CheckIfDue(TCheckOrvane& Orvane, const TCheckOptions& Options) {
  Orvane.SetCheckInterval(Options.IfDue);
  Orvane.NotDue = !Orvane.CheckIfDue();
  if (Orvane.NotDue) {
    std::printf("Not due: the last check was less than %d seconds ago\n", Options.IfDue);
  } else if (Orvane.LastResult() == ocoSkipped) {
    std::printf("Version %s is skipped (--forget-skipped offers it again)\n",
                Shown(Orvane.ProductVersion()).c_str());
  }
  const TOrvCheckOutcome r = Orvane.LastResult();
  if ((Orvane.NotDue || r == ocoSkipped || r == ocoNoUpdate) && !Orvane.LastError().empty()) {
    std::fprintf(stderr, "orvane-check: %s\n", Shown(Orvane.LastError()).c_str());
  }
  return !Orvane.NotDue && r == ocoDownloaded;
}

int CheckWith(const TCheckOptions& Options, const std::string& HomeURL, TCheckOrvane& orvane);

// What the check came to, for scripts.
TJsonResult JsonOf(const TCheckOrvane& Orvane, const TCheckOptions& Options, int Code) {
  TJsonResult j;
  j.Product = Orvane.ProductName();
  j.VersionOffered = Orvane.ProductVersion();
  j.CurrentVersion = Options.CurrentVersion;
  j.SignatureVerified = Orvane.SignatureVerified();
  if (Code == ExitDownloaded) {
    j.Result = "downloaded";
    j.SavedFile = Orvane.LocalFileName();
    return j;
  }
  const TOrvCheckOutcome r = Orvane.LastResult();
  if (Code == ExitNoUpdate) {
    j.Result = Orvane.NotDue                ? "not-due"
               : Orvane.Cancelled           ? "cancelled"
               : r == ocoSkipped            ? "skipped"
               : r == ocoDeclined           ? "declined"
               : r == ocoCancelled          ? "cancelled"
               : Orvane.IsUpdateAvailable() ? "declined"
                                            : "no-update";
    return j;
  }
  j.Result = "failed";
  j.FailureKind = !Orvane.Active()                  ? "page"
                  : Orvane.ProductVersion().empty() ? "no-version"
                                                    : "download";
  j.FailureText = FailureText(Orvane);
  if (j.FailureKind == "no-version") j.FailureText = "the page gives no version";
  return j;
}

}  // namespace

int RunUpdateCheck(const TCheckOptions& Options, const std::string& HomeURL, std::FILE* JsonOut) {
  TCheckOrvane orvane(nullptr);
  const int code = CheckWith(Options, HomeURL, orvane);
  if (Options.Json) {
    std::fprintf(JsonOut, "%s\n", JsonText(JsonOf(orvane, Options, code)).c_str());
    std::fflush(JsonOut);
  }
  return code;
}

namespace {

int CheckWith(const TCheckOptions& Options, const std::string& HomeURL, TCheckOrvane& orvane) {
  TTerminalBackend::TSettings settings;
  // Unattended, every question takes its default: download, save, start.
  settings.AnswerYes = Options.Yes || Options.RunUnattended;
  // Quiet, questions still reach the person at the terminal, on standard error.
  if ((Options.Json || Options.Quiet) && !settings.AnswerYes && ::isatty(settings.InputFd))
    settings.Output = stderr;
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
  // Only a person, at the terminal or in a window, may agree to start what was
  // downloaded: --yes or a run without a terminal saves the update and leaves it.
  const bool attended = Options.Gui || backend.Interactive();

  orvane.SetURL(HomeURL);
  orvane.SetCurrentVersion(Options.CurrentVersion);
  UseDefaultTags(*orvane.InfoTags());
  for (const auto& [property, entry] : Options.Tags)
    SetInfoTag(*orvane.InfoTags(), property, entry);
  if (!Options.ProxyHost.empty()) {
    orvane.SetProxyHost(Options.ProxyHost);
    orvane.SetProxyPort(Options.ProxyPort);
  }
  orvane.SetProxyFromEnvironment(true);
  if (Options.HasNoProxy) {
    ::setenv("no_proxy", Options.NoProxy.c_str(), 1);
    ::unsetenv("NO_PROXY");
  }
  orvane.SetPublicKey(Options.PublicKey);
  orvane.SetExpectedProduct(Options.ExpectedProduct);
  orvane.SetAllowUnexpiringPages(Options.AllowUnexpiring);
  orvane.SetSslCAFile(Options.CAFile);
  orvane.SetVersionFormat(Options.VersionFormat);
  orvane.SetDateFormat(Options.DateFormat);
  if (Options.SpeedLimit >= 0) orvane.SetLowSpeedLimit(Options.SpeedLimit);
  if (Options.SpeedTime >= 0) orvane.SetLowSpeedTime(Options.SpeedTime);
  if (Options.MaxTime >= 0) {
    orvane.SetPageMaxTime(Options.MaxTime);
    orvane.SetDownloadMaxTime(Options.MaxTime);
  }
  // Answers given for the user are no person looking: nothing is handed to the opener.
  orvane.SetAttended(attended && !settings.AnswerYes);
  TOrvOptions flags{orvoDisplayUI, orvoDisplayReadMe, orvoExitDuringUpdate};
  // A key is set whenever --run-unattended is (the command line sees to it): no page
  // without the publisher's signature gets as far as a download.
  orvane.Unattended = Options.RunUnattended && !Options.PublicKey.empty();
  orvane.MayStart = (!Options.NoRun && attended) || orvane.Unattended;
  if (orvane.MayStart) flags.Include(orvoRunUpdate);
  if (Options.OfferSkip) flags.Include(orvoOfferSkip);
  orvane.SetApplicationId("orvane-check");
  orvane.SetStateFile(Options.StateFile);
  orvane.SetOptions(flags);

  TStopSignals signals([&orvane](int) { orvane.Stop(); });

  std::printf("Checking %s for a version newer than %s\n", Shown(HomeURL).c_str(),
              Shown(Options.CurrentVersion).c_str());
  std::fflush(stdout);
  const bool downloaded =
      Options.IfDue >= 0 ? CheckIfDue(orvane, Options) : orvane.CheckForUpdate();
  if (signals.Received() != 0) {
    std::fprintf(stderr, "orvane-check: stopped by %s; %s\n", SignalName(signals.Received()),
                 downloaded ? ("the update was saved as " + Shown(orvane.LocalFileName()) +
                               " and not started")
                                  .c_str()
                            : "nothing was saved");
    return ExitNoUpdate;
  }
  if (downloaded) {
    std::printf("Saved %s\n", Shown(orvane.LocalFileName()).c_str());
    if (!attended && !Options.NoRun && !orvane.Unattended) {
      const std::string path = Quoted(orvane.LocalFileName());
      std::printf(
          "Not started: only a person at a terminal or in a window (--gui) may start an "
          "update. To start it yourself: %s\n",
          Shown(IsScript(orvane.LocalFileName()) ? "chmod +x " + path + " && " + path
                                                 : "xdg-open " + path)
              .c_str());
    }
    return ExitDownloaded;
  }
  if (orvane.NotDue || orvane.LastResult() == ocoSkipped ||
      (Options.IfDue >= 0 && orvane.LastResult() == ocoNoUpdate))
    return ExitNoUpdate;
  // Escape or Ctrl-C on the progress line, or Ctrl-C while the page was read.
  if (orvane.Cancelled || (!Options.Gui && backend.Interrupted())) {
    std::fprintf(stderr, "orvane-check: cancelled; nothing was saved\n");
    return ExitNoUpdate;
  }
  if (!orvane.Active()) {
    const std::string page = orvane.LastPageURL().empty() ? HomeURL : orvane.LastPageURL();
    std::fprintf(stderr, "orvane-check: could not read %s: %s\n", Shown(page).c_str(),
                 Shown(FailureText(orvane)).c_str());
    return ExitFailure;
  }
  if (orvane.ProductVersion().empty()) {
    std::fprintf(stderr,
                 "orvane-check: %s has no \"%s\" entry, so there is no version to compare "
                 "(see --tag)\n",
                 Shown(HomeURL).c_str(), Shown(orvane.InfoTags()->VersionTag()).c_str());
    return ExitFailure;
  }
  if (!orvane.LastError().empty()) {
    std::fprintf(stderr, "orvane-check: %s\n", Shown(FailureText(orvane)).c_str());
    return ExitFailure;
  }
  if (!attended && orvane.IsUpdateAvailable()) {
    char cwd[4096];
    const std::string proposed =
        (::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" : std::string()) +
        orvane.DownloadFileName();
    if (FileExists(proposed)) {
      std::fprintf(stderr,
                   "orvane-check: not saved: %s exists, and without a person to agree it is "
                   "not replaced\n",
                   Shown(proposed).c_str());
      return ExitNoUpdate;
    }
  }
  return ExitNoUpdate;
}

}  // namespace
