// Reading the information page: preparing the shared client, the please-wait form, the
// exception hook and the redirect chain.
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
#include "Orvane/EntryChecks.h"
#include "Orvane/ExceptionHook.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"
#include "Orvane/WebDlProgress.h"

namespace {

// Seconds a new request waits for an aborted one to wind down before the client is
// reported busy.
constexpr std::int32_t ClientSettleSeconds = 10;

// Pages one GetFileInfo reads at most, the first one included.
constexpr int MaxRedirectPages = 10;

}  // namespace

THttpCli& TOrvane::PrepareClient() {
  TSharedHttpClient& shared = TSharedHttpClient::Instance();
  // A request whose wait was ended (by the exception hook) may still be winding down.
  if (THttpCli* busy = shared.Client(); busy && busy->State() != httpReady) {
    TMessagePump pump(*Application);
    pump.PumpUntil([&] { return !shared.Client() || shared.Client()->State() == httpReady; },
                   TDeadline::InSeconds(ClientSettleSeconds));
    if (!shared.Client()) throw EHttpException("HTTP component destroyed during the request", 404);
  }
  // The request's end goes to the component that starts it, whichever created the client.
  THttpCli& cli = shared.Acquire(this);
  // A server that accepts and never answers must not hold a form without a button open.
  cli.SetTimeout(FRequestTimeout);
  cli.SetLowSpeedLimit(FLowSpeedLimit);
  cli.SetLowSpeedTime(FLowSpeedTime);
  cli.SetMaxTime(FPageMaxTime);
  cli.SetSslCAFile(FSslCAFile);
  cli.SetProxyFromEnvironment(FProxyFromEnvironment);
  return cli;
}

TCustomForm* TOrvane::CreatePleaseWait(const std::string& Text) {
  auto* form = new TForm(Application);
  form->SetBorderIcons({});
  form->SetBorderStyle(bsDialog);
  form->SetCaption(LoadOrvStr(sOrvPleaseWait));
  form->SetCursor(crHourGlass);
  form->SetHeight(100);
  form->SetPosition(poScreenCenter);
  form->SetWidth(240);
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetBounds(0, 27, 232, 23);
  label->SetAlignment(taCenter);
  label->SetCaption(Text);
  label->SetFont(FUIFontObject.get());
  return form;
}

// ---------------------------------------------------------------------------------------
// The exception hook

void TOrvHook::operator()(TObject* Sender, const Exception& E) const {
  if (State->Owner) {
    State->Owner->OrvException(Sender, E);
  } else if (State->Saved) {
    const auto saved = State->Saved;
    saved(Sender, E);
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
  const TOrvHook* top = Application->OnException.target<TOrvHook>();
  FHook->Owner = nullptr;  // if buried under another hook, it only passes errors on now
  if (top && top->State == FHook) {
    Application->OnException = FHook->Saved;
    // Hooks of components that went while buried need not stay in the chain.
    while (const TOrvHook* next = Application->OnException.target<TOrvHook>()) {
      if (next->State->Owner) break;
      const auto saved = next->State->Saved;
      Application->OnException = saved;
    }
  }
  FHook.reset();
}

void TOrvane::OrvException(TObject* Sender, const Exception& E) {
  if (!dynamic_cast<const EHttpException*>(&E)) {
    if (FHook && FHook->Saved) {
      const auto saved = FHook->Saved;
      saved(Sender, E);
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
  if (THttpCli* cli = SharedHttpCli()) {
    // The operation that waited owns the stream and frees it when its wait has ended.
    cli->SetRcvdStream(nullptr);
    cli->OnDocData = nullptr;
    // The wait for the request is over: the request must not go on and hold the client
    // busy for the next one, and its end reports to nobody.
    TSharedHttpClient::Instance().AbortUnowned();
  }
  ClearExceptionHandler();
  if (!FSilent)
    Application->MessageBox(FormatOrvStr(sOrvExceptionText, {E.Message()}),
                            LoadOrvStr(sOrvException), MB_ICONEXCLAMATION | MB_OK);
}

// ---------------------------------------------------------------------------------------
// GetFileInfo

void TOrvane::ClearProductFields() {
  FPage = {};
  FSignatureVerified = false;
  FExpectations = {};
}

std::string TOrvane::EntryName(const std::string& Tag, const char* Field) {
  return "The " + (Tag.empty() ? std::string(Field) : Tag) + " entry";
}

bool TOrvane::RefuseEntryURL(const std::string& Entry, const std::string& Url) {
  const std::string fault = UrlFault(Url);
  if (fault.empty()) return false;
  FLastError = Url.empty() ? Entry + " gives no address"
                           : Entry + " \"" + Url + "\" cannot be fetched: " + fault;
  return true;
}

bool TOrvane::StartRequest(THttpCli& Cli, const std::string& Url) {
  TAliveGuard guard(*this);
  try {
    Cli.SetURL(Url);
    Cli.GetASync();
    return true;
  } catch (...) {
    if (guard.Gone()) return false;
    std::string reason = "the request could not start";
    try {
      throw;
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
    }
    // A request refused half-way keeps the client busy until it is aborted; its end
    // reports to nobody.
    if (SharedHttpCli() == &Cli) TSharedHttpClient::Instance().AbortUnowned();
    if (!FSilent) Application->HandleException(this);
    if (guard.Gone()) return false;
    if (FLastError.empty()) FLastError = reason;
    return false;
  }
}

void TOrvane::EndUnfinishedRequest(THttpCli& Cli) {
  // What the aborted request reports later is no news for anyone.
  if (SharedHttpCli() == &Cli) TSharedHttpClient::Instance().AbortUnowned();
}

void TOrvane::WatchPageSize(THttpCli& Cli) {
  FPageTooLarge = false;
  if (FMaxPageSize > 0) WatchByteLimit(Cli, FMaxPageSize);
}

void TOrvane::WatchByteLimit(THttpCli& Cli, std::int64_t Limit) {
  FPageTooLarge = false;
  if (Limit < 0) return;
  const auto limit = static_cast<std::uint64_t>(Limit);
  Cli.OnDocData = [this, limit](TObject* Sender, const void*, std::int32_t) {
    auto* cli = dynamic_cast<THttpCli*>(Sender);
    if (!cli || FPageTooLarge) return;
    if (PastByteLimit(*cli, limit)) {
      FPageTooLarge = true;
      cli->Abort();
    }
  };
}

std::string TOrvane::FailureReason(const THttpCli& Cli) {
  if (!Cli.ReasonPhrase().empty()) return Cli.ReasonPhrase();
  return "HTTP status " + IntToStr(Cli.StatusCode());
}

std::string TOrvane::PageTooLargeReason() const {
  return "The page at " + FLastPageURL + " is larger than the " + FormatThousands(FMaxPageSize) +
         " bytes a page may have (MaxPageSize)";
}

bool TOrvane::ReadPage(const std::string& Url) {
  TAliveGuard guard(*this);
  FLastPageURL = Url;
  THttpCli& cli = PrepareClient();
  if (!FProxyHost.empty()) {
    cli.SetProxy(FProxyHost);
    cli.SetProxyPort(IntToStr(FProxyPort));
  } else {
    cli.SetProxy("");
    cli.SetProxyPort("80");
  }
  TReceiveLoan loan(cli, std::make_unique<TMemoryStream>());
  FLastError.clear();
  WatchPageSize(cli);
  struct TUnwatch {
    ~TUnwatch() {
      if (THttpCli* c = SharedHttpCli()) c->OnDocData = nullptr;
    }
  } unwatch;
  FRequestEnded = false;
  if (!StartRequest(cli, Url)) {
    if (!guard.Gone()) ClearProductFields();
    return false;
  }
  if (FSilent) {
    // The application's loop goes on while the page comes: nothing is shown, nothing
    // waits for the user. The client's time-out still ends a silent server.
    TMessagePump pump(*Application);
    pump.PumpUntil([&] { return guard.Gone() || FRequestEnded || loan.Taken(); });
  } else {
    if (!FWaitForm) FWaitForm = CreatePleaseWait(LoadOrvStr(sOrvCheckingForUpdate));
    FWaitForm->ShowModal();
  }
  if (guard.Gone()) return false;  // freed by a handler during the wait
  EndUnfinishedRequest(cli);
  // When the exception hook ended the wait, its message is the reason, not the status of
  // the request it aborted.
  const bool hooked = loan.Taken();
  if (!hooked && FPageTooLarge) {
    FLastError = PageTooLargeReason();
  } else if (!hooked && cli.StatusCode() > 200) {
    FLastError = FailureReason(cli);
    if (!FSilent) MessageDlg(IntToStr(cli.StatusCode()), mtCustom, {mbOK}, 0);
    if (guard.Gone()) return false;
  }
  ClearProductFields();
  if (!FLastError.empty() || hooked) return false;
  try {
    FInfoLines = std::make_unique<TStringList>();
    struct TLinesRelease {
      std::unique_ptr<TStringList>& Lines;
      ~TLinesRelease() { Lines.reset(); }
    } linesRelease{FInfoLines};
    loan.Stream().SetPosition(0);
    FInfoLines->LoadFromStream(loan.Stream());
    ParseDocument(*FInfoLines);
  } catch (const EConvertError& e) {
    // A date that cannot be read, or that does not exist, makes the page unreadable. The
    // application's exception handling sees the error as it always did.
    const std::string reason = EntryName(FInfoTags->DateTag(), "ProductDateStr") + " \"" +
                               FPage.Date + "\" is no date: " + e.Message();
    if (!FSilent) Application->HandleException(this);
    if (guard.Gone()) return false;
    ClearProductFields();
    FLastError = reason;
    return false;
  }
  FDownloadFileName = LastUrlSegment(FPage.Download);
  return true;
}

bool TOrvane::GetFileInfo() {
  if (FActive) return true;
  if (FHomeURL.empty()) {
    if (FSilent) {
      FLastError = "No HomeURL is set: there is no page to read";
      return false;
    }
    Application->MessageBox(LoadOrvStr(sOrvNoHomeUrl), LoadOrvStr(sOrvMissingHomeUrl),
                            MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  const TOrvTags& t = *FInfoTags;
  if (t.AuthorTag().empty() && t.DateTag().empty() && t.DownloadTag().empty() &&
      t.ProductNameTag().empty() && t.ReadMeTag().empty() && t.ReadMeExtTag().empty() &&
      t.RedirectTag().empty() && t.RunParamsTag().empty() && t.VersionTag().empty()) {
    if (FSilent) {
      FLastError = "Every tag of InfoTags is empty: the page can give nothing";
      return false;
    }
    Application->MessageBox(LoadOrvStr(sOrvNoTags), LoadOrvStr(sOrvMissingTags),
                            MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  TAliveGuard guard(*this);
  struct TWaitFormRelease {
    TAliveGuard& Guard;
    TCustomForm*& Form;
    ~TWaitFormRelease() {
      if (Guard.Gone()) return;
      delete Form;
      Form = nullptr;
    }
  } waitRelease{guard, FWaitForm};
  std::vector<std::string> read;
  bool first = false;
  bool last = false;
  for (int page = 1;; ++page) {
    SetExceptionHandler();
    const std::string url = FPage.Redirect.empty() ? FHomeURL : FPage.Redirect;
    read.push_back(url);
    if (RefuseEntryURL(FPage.Redirect.empty() ? std::string("HomeURL")
                                            : EntryName(FInfoTags->RedirectTag(), "RedirectURL"),
                       url)) {
      // Refused before any request, and read no more than a page that failed.
      FLastPageURL = url;
      ClearProductFields();
      last = false;
    } else {
      last = ReadPage(url);
    }
    if (guard.Gone()) return false;
    if (page == 1) first = last;
    if (FPage.Redirect.empty()) break;
    const bool loop = std::find(read.begin(), read.end(), FPage.Redirect) != read.end();
    if (loop || page == MaxRedirectPages) {
      // The chain would never end: the check fails, and the next one starts from HomeURL.
      FLastError = loop ? "The page " + url + " redirects to " + FPage.Redirect +
                              ", which was read before in this check"
                        : "More than " + IntToStr(MaxRedirectPages) + " pages redirect in a row";
      FPage.Redirect.clear();
      FActive = false;
      return false;
    }
  }
  // The facts of the last page are what a download would rest on: a page the key or its
  // expiry refuses leaves nothing of itself behind.
  FPageRefused = last && !VerifyPage();
  if (FPageRefused) {
    ClearProductFields();
    last = false;
    if (read.size() == 1) first = false;
  }
  FActive = last;
  return first;
}
