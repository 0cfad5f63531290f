// Reading the information page: the shared client, the please-wait form, the request-done
// handler, the exception hook and the redirect chain.
#include <algorithm>
#include <memory>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/MessagePump.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/ExceptionHook.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"
#include "Orvane/WebDlProgress.h"

namespace {

THttpCli* GSharedHttpCli = nullptr;
THttpEvents* GSharedHttpEvents = nullptr;

// Seconds a new request waits for an aborted one to wind down before the client is
// reported busy.
constexpr std::int32_t ClientSettleSeconds = 10;

// Pages one GetFileInfo reads at most, the first one included.
constexpr int MaxRedirectPages = 10;

}  // namespace

THttpCli*& SharedHttpCliRef() {
  return GSharedHttpCli;
}

THttpEvents*& SharedHttpEventsRef() {
  return GSharedHttpEvents;
}

THttpCli* TOrvane::SharedHttpCli() {
  return GSharedHttpCli;
}

void THttpEvents::HttpRequestDone(TObject* Sender, THttpRequest, std::uint16_t Error) {
  TOrvane* O = Owner;
  if (!O) return;
  auto* Cli = dynamic_cast<THttpCli*>(Sender);
  O->FLastError = (Error != 0 && Cli) ? Cli->ReasonPhrase() : std::string();
  if (O->FWaitForm) O->FWaitForm->SetModalResult(mrOk);
  if (O->FProgressForm)
    O->FProgressForm->SetModalResult(O->FProgressForm->Cancelled ? mrCancel : mrOk);
}

THttpCli& TOrvane::PrepareClient() {
  if (!GSharedHttpCli) {
    GSharedHttpEvents = new THttpEvents(this);
    GSharedHttpCli = new THttpCli(this);
    THttpEvents* Events = GSharedHttpEvents;
    GSharedHttpCli->OnRequestDone = [Events](TObject* Sender, THttpRequest Rq, std::uint16_t E) {
      Events->HttpRequestDone(Sender, Rq, E);
    };
  }
  // A request whose wait was ended (by the exception hook) may still be winding down.
  if (GSharedHttpCli->State() != httpReady) {
    TMessagePump Pump(*Application);
    Pump.PumpUntil([] { return !GSharedHttpCli || GSharedHttpCli->State() == httpReady; },
                   TDeadline::InSeconds(ClientSettleSeconds));
    if (!GSharedHttpCli) throw EHttpException("HTTP component destroyed during the request", 404);
  }
  // The request's end goes to the component that starts it, whichever created the client.
  GSharedHttpEvents->Owner = this;
  // A server that accepts and never answers must not hold a form without a button open.
  GSharedHttpCli->SetTimeout(FRequestTimeout);
  return *GSharedHttpCli;
}

TCustomForm* TOrvane::CreatePleaseWait(const std::string& Text) {
  auto* Form = new TForm(Application);
  Form->SetBorderIcons({});
  Form->SetBorderStyle(bsDialog);
  Form->SetCaption(LoadOrvStr(sOrvPleaseWait));
  Form->SetCursor(crHourGlass);
  Form->SetHeight(100);
  Form->SetPosition(poScreenCenter);
  Form->SetWidth(240);
  auto* Label = new TLabel(Form);
  Label->SetParent(Form);
  Label->SetBounds(0, 27, 232, 23);
  Label->SetAlignment(taCenter);
  Label->SetCaption(Text);
  Label->SetFont(FUIFontObject.get());
  return Form;
}

// ---------------------------------------------------------------------------------------
// The exception hook

void TOrvHook::operator()(TObject* Sender, const Exception& E) const {
  if (State->Owner) {
    State->Owner->OrvException(Sender, E);
  } else if (State->Saved) {
    const auto Saved = State->Saved;
    Saved(Sender, E);
  }
}

void TOrvane::SetExceptionHandler() {
  // Installed already (on top, or under another component's hook): installing again would
  // make the hook its own saved handler.
  if (FHook) return;
  FHook = std::make_shared<TOrvHookState>();
  FHook->Owner = this;
  FHook->Saved = Application->OnException;
  Application->OnException = TOrvHook{FHook};
}

void TOrvane::ClearExceptionHandler() {
  if (!FHook) return;
  const TOrvHook* Top = Application->OnException.target<TOrvHook>();
  FHook->Owner = nullptr;  // if buried under another hook, it only passes errors on now
  if (Top && Top->State == FHook) {
    Application->OnException = FHook->Saved;
    // Hooks of components that went while buried need not stay in the chain.
    while (const TOrvHook* Next = Application->OnException.target<TOrvHook>()) {
      if (Next->State->Owner) break;
      const auto Saved = Next->State->Saved;
      Application->OnException = Saved;
    }
  }
  FHook.reset();
}

void TOrvane::OrvException(TObject* Sender, const Exception& E) {
  if (!dynamic_cast<const EHttpException*>(&E)) {
    if (FHook && FHook->Saved) {
      const auto Saved = FHook->Saved;
      Saved(Sender, E);
    }
    return;
  }
  FLastError = E.Message();
  if (FWaitForm) {
    FWaitForm->SetModalResult(mrCancel);
    FWaitForm->Release();
    FWaitForm = nullptr;
  }
  if (FProgressForm) {
    FProgressForm->SetModalResult(mrCancel);
    FProgressForm->Release();
    FProgressForm = nullptr;
  }
  if (THttpCli* Cli = GSharedHttpCli) {
    // The operation that waited owns the stream and frees it when its wait has ended.
    Cli->SetRcvdStream(nullptr);
    Cli->OnDocData = nullptr;
    // The wait for the request is over: the request must not go on and hold the client
    // busy for the next one, and its end reports to nobody.
    if (Cli->State() != httpReady) {
      if (GSharedHttpEvents) GSharedHttpEvents->Owner = nullptr;
      Cli->Abort();
    }
  }
  ClearExceptionHandler();
  Application->MessageBox(FormatOrvStr(sOrvExceptionText, {E.Message()}), LoadOrvStr(sOrvException),
                          MB_ICONEXCLAMATION | MB_OK);
}

// ---------------------------------------------------------------------------------------
// GetFileInfo

bool TOrvane::ReadPage(const std::string& Url) {
  TAliveGuard Guard(*this);
  THttpCli& Cli = PrepareClient();
  if (!FProxyHost.empty()) {
    Cli.SetProxy(FProxyHost);
    Cli.SetProxyPort(IntToStr(FProxyPort));
  } else {
    Cli.SetProxy("");
    Cli.SetProxyPort("80");
  }
  TReceiveLoan Loan(Cli, std::make_unique<TMemoryStream>());
  FLastError.clear();
  Cli.SetURL(Url);
  Cli.GetASync();
  if (!FWaitForm) FWaitForm = CreatePleaseWait(LoadOrvStr(sOrvCheckingForUpdate));
  FWaitForm->ShowModal();
  if (Guard.Gone()) return false;  // freed by a handler during the wait
  // When the exception hook ended the wait, its message is the reason, not the status of
  // the request it aborted.
  const bool Hooked = Loan.Taken();
  if (!Hooked && Cli.StatusCode() > 200) {
    FLastError = Cli.ReasonPhrase();
    MessageDlg(IntToStr(Cli.StatusCode()), mtCustom, {mbOK}, 0);
    if (Guard.Gone()) return false;
  }
  FDownloadURL.clear();
  FProductName.clear();
  FProductAuthor.clear();
  FProductDate = 0;
  FProductDateStr.clear();
  FProductReadMe.clear();
  FProductReadMeExt.clear();
  FProductVersion.clear();
  FRedirectURL.clear();
  FRunParams.clear();
  if (!FLastError.empty() || Hooked) return false;
  {
    FInfoLines = std::make_unique<TStringList>();
    struct TLinesRelease {
      std::unique_ptr<TStringList>& Lines;
      ~TLinesRelease() { Lines.reset(); }
    } LinesRelease{FInfoLines};
    Loan.Stream().SetPosition(0);
    FInfoLines->LoadFromStream(Loan.Stream());
    ParseDocument(*FInfoLines);
  }
  FDownloadFileName = LastUrlSegment(FDownloadURL);
  return true;
}

bool TOrvane::GetFileInfo() {
  if (FActive) return true;
  if (FHomeURL.empty()) {
    Application->MessageBox(LoadOrvStr(sOrvNoHomeUrl), LoadOrvStr(sOrvMissingHomeUrl),
                            MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  const TOrvTags& T = *FInfoTags;
  if (T.AuthorTag().empty() && T.DateTag().empty() && T.DownloadTag().empty() &&
      T.ProductNameTag().empty() && T.ReadMeTag().empty() && T.ReadMeExtTag().empty() &&
      T.RedirectTag().empty() && T.RunParamsTag().empty() && T.VersionTag().empty()) {
    Application->MessageBox(LoadOrvStr(sOrvNoTags), LoadOrvStr(sOrvMissingTags),
                            MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  TAliveGuard Guard(*this);
  struct TWaitFormRelease {
    TAliveGuard& Guard;
    TCustomForm*& Form;
    ~TWaitFormRelease() {
      if (Guard.Gone()) return;
      delete Form;
      Form = nullptr;
    }
  } WaitRelease{Guard, FWaitForm};
  std::vector<std::string> Read;
  bool First = false;
  bool Last = false;
  for (int Page = 1;; ++Page) {
    SetExceptionHandler();
    const std::string Url = FRedirectURL.empty() ? FHomeURL : FRedirectURL;
    Read.push_back(Url);
    Last = ReadPage(Url);
    if (Guard.Gone()) return false;
    if (Page == 1) First = Last;
    if (FRedirectURL.empty()) break;
    const bool Loop = std::find(Read.begin(), Read.end(), FRedirectURL) != Read.end();
    if (Loop || Page == MaxRedirectPages) {
      // The chain would never end: the check fails, and the next one starts from HomeURL.
      FLastError = Loop ? "The page " + Url + " redirects to " + FRedirectURL +
                              ", which was read before in this check"
                        : "More than " + IntToStr(MaxRedirectPages) + " pages redirect in a row";
      FRedirectURL.clear();
      FActive = false;
      return false;
    }
  }
  FActive = Last;
  return First;
}
