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
constexpr std::size_t MaxRedirectPages = 10;

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

void TOrvane::UseProxy(THttpCli& Cli) const {
  const bool direct = FProxyHost.empty();
  Cli.SetProxy(FProxyHost);
  Cli.SetProxyPort(direct ? std::string("80") : IntToStr(FProxyPort));
}

bool TOrvane::ReadPage(const std::string& Url) {
  TAliveGuard guard(*this);
  FLastPageURL = Url;
  THttpCli& cli = PrepareClient();
  UseProxy(cli);
  TReceiveLoan loan(cli, std::make_unique<TMemoryStream>());
  FLastError.clear();
  WatchPageSize(cli);
  const TDocDataRelease unwatch;
  FRequestEnded = false;
  if (!StartRequest(cli, Url)) {
    if (!guard.Gone()) ClearProductFields();
    return false;
  }
  WaitForPage(guard, loan);
  if (guard.Gone()) return false;  // freed by a handler during the wait
  EndUnfinishedRequest(cli);
  // When the exception hook ended the wait, its message is the reason, not the status of
  // the request it aborted.
  const bool hooked = loan.Taken();
  if (!hooked) RecordPageFailure(cli);
  if (guard.Gone()) return false;
  ClearProductFields();
  if (!FLastError.empty() || hooked) return false;
  return ParseReceivedPage(guard, loan.Stream());
}

void TOrvane::WaitForPage(const TAliveGuard& Guard, const TReceiveLoan& Loan) {
  if (FSilent) {
    // The application's loop goes on while the page comes: nothing is shown, nothing
    // waits for the user. The client's time-out still ends a silent server.
    TMessagePump pump(*Application);
    pump.PumpUntil([&] { return Guard.Gone() || FRequestEnded || Loan.Taken(); });
    return;
  }
  if (!FWaitForm) FWaitForm = CreatePleaseWait(LoadOrvStr(sOrvCheckingForUpdate));
  FWaitForm->ShowModal();
}

void TOrvane::RecordPageFailure(const THttpCli& Cli) {
  if (FPageTooLarge) {
    FLastError = PageTooLargeReason();
  } else if (Cli.StatusCode() > 200) {
    FLastError = FailureReason(Cli);
    if (!FSilent) MessageDlg(IntToStr(Cli.StatusCode()), mtCustom, {mbOK}, 0);
  }
}

bool TOrvane::ParseReceivedPage(const TAliveGuard& Guard, TStream& Received) {
  try {
    FInfoLines = std::make_unique<TStringList>();
    struct TLinesRelease {
      std::unique_ptr<TStringList>& Lines;
      ~TLinesRelease() { Lines.reset(); }
    } linesRelease{FInfoLines};
    Received.SetPosition(0);
    FInfoLines->LoadFromStream(Received);
    ParseDocument(*FInfoLines);
  } catch (const EConvertError& e) {
    // A date that cannot be read, or that does not exist, makes the page unreadable. The
    // application's exception handling sees the error as it always did.
    const std::string reason = EntryName(FInfoTags->DateTag(), "ProductDateStr") + " \"" +
                               FPage.Date + "\" is no date: " + e.Message();
    if (!FSilent) Application->HandleException(this);
    if (Guard.Gone()) return false;
    ClearProductFields();
    FLastError = reason;
    return false;
  }
  FDownloadFileName = LastUrlSegment(FPage.Download);
  return true;
}

bool TOrvane::HasPageToRead() {
  const TOrvTags& t = *FInfoTags;
  const bool noTags = t.AuthorTag().empty() && t.DateTag().empty() && t.DownloadTag().empty() &&
                      t.ProductNameTag().empty() && t.ReadMeTag().empty() &&
                      t.ReadMeExtTag().empty() && t.RedirectTag().empty() &&
                      t.RunParamsTag().empty() && t.VersionTag().empty();
  if (!FHomeURL.empty() && !noTags) return true;
  if (FSilent) {
    FLastError = FHomeURL.empty() ? "No HomeURL is set: there is no page to read"
                                  : "Every tag of InfoTags is empty: the page can give nothing";
  } else if (FHomeURL.empty()) {
    Application->MessageBox(LoadOrvStr(sOrvNoHomeUrl), LoadOrvStr(sOrvMissingHomeUrl),
                            MB_ICONEXCLAMATION | MB_OK);
  } else {
    Application->MessageBox(LoadOrvStr(sOrvNoTags), LoadOrvStr(sOrvMissingTags),
                            MB_ICONEXCLAMATION | MB_OK);
  }
  return false;
}

bool TOrvane::ReadChainPage(const std::string& Url) {
  SetExceptionHandler();
  const std::string entry = FPage.Redirect.empty()
                                ? std::string("HomeURL")
                                : EntryName(FInfoTags->RedirectTag(), "RedirectURL");
  if (!RefuseEntryURL(entry, Url)) return ReadPage(Url);
  // Refused before any request, and read no more than a page that failed.
  FLastPageURL = Url;
  ClearProductFields();
  return false;
}

bool TOrvane::EndlessRedirect(const std::string& Url, const std::vector<std::string>& Read) {
  const bool loop = std::find(Read.begin(), Read.end(), FPage.Redirect) != Read.end();
  if (!loop && Read.size() < MaxRedirectPages) return false;
  // The chain would never end: the check fails, and the next one starts from HomeURL.
  FLastError = loop ? "The page " + Url + " redirects to " + FPage.Redirect +
                          ", which was read before in this check"
                    : "More than " + std::to_string(MaxRedirectPages) + " pages redirect in a row";
  FPage.Redirect.clear();
  FActive = false;
  return true;
}

bool TOrvane::GetFileInfo() {
  if (FActive) return true;
  if (!HasPageToRead()) return false;
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
  do {
    const std::string url = FPage.Redirect.empty() ? FHomeURL : FPage.Redirect;
    read.push_back(url);
    last = ReadChainPage(url);
    if (guard.Gone()) return false;
    if (read.size() == 1) first = last;
    if (!FPage.Redirect.empty() && EndlessRedirect(url, read)) return false;
  } while (!FPage.Redirect.empty());
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
