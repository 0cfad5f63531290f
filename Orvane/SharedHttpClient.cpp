// The client every TOrvane shares, its owner, and the end of its requests.
#include <new>

#include "Host/Forms.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/Orvane.h"
#include "Orvane/WebDlProgress.h"

TSharedHttpClient& TSharedHttpClient::Instance() {
  // Deliberately never destroyed: components owned by a static object may go after any
  // other static object has. Built in static storage rather than on the heap, so that a
  // package unloaded by a design tool takes it along instead of leaving it behind.
  alignas(TSharedHttpClient) static unsigned char storage[sizeof(TSharedHttpClient)];
  static TSharedHttpClient* instance = new (storage) TSharedHttpClient;
  return *instance;
}

THttpCli& TSharedHttpClient::Acquire(TOrvane* Owner) {
  if (!FCli) {
    FEvents = std::make_unique<THttpEvents>(Owner);
    FCli = std::make_unique<THttpCli>(nullptr);
    FCli->OnRequestDone = [events = FEvents.get()](TObject* Sender, THttpRequest Rq,
                                                   std::uint16_t E) {
      events->HttpRequestDone(Sender, Rq, E);
    };
  }
  FEvents->Owner = Owner;
  return *FCli;
}

void TSharedHttpClient::Disown() {
  if (FEvents) FEvents->Owner = nullptr;
}

void TSharedHttpClient::AbortUnowned() {
  if (!FCli || FCli->State() == httpReady) return;
  Disown();
  FCli->Abort();
}

void TSharedHttpClient::Leave(const TOrvane* Component) {
  --FUsers;
  // Kept only for another component's request: what the departing one started, and what
  // nobody owns any more (an aborted request still winding down), goes with it.
  const TOrvane* owner = FEvents ? FEvents->Owner : nullptr;
  if (FUsers <= 0 || !owner || owner == Component) Free();
}

void TSharedHttpClient::Free() {
  // Gone from view before its destructor runs, so that nothing it calls meanwhile finds
  // it; the departing component hears nothing more.
  std::unique_ptr<THttpCli> cli = std::move(FCli);
  std::unique_ptr<THttpEvents> events = std::move(FEvents);
  if (events) events->Owner = nullptr;
  cli.reset();
}

THttpCli* TOrvane::SharedHttpCli() {
  return TSharedHttpClient::Instance().Client();
}

void THttpEvents::HttpRequestDone(TObject* Sender, THttpRequest, std::uint16_t Error) {
  TOrvane* o = Owner;
  if (!o) return;
  auto* cli = dynamic_cast<THttpCli*>(Sender);
  // The late end of a request that was aborted before this one started (its message was
  // still queued): the request under way is not over.
  if (cli && cli->State() != httpReady) return;
  o->FLastError = (Error != 0 && cli) ? TOrvane::FailureReason(*cli) : std::string();
  o->FRequestEnded = true;
  o->FDownloadCancelled = o->FProgressForm && o->FProgressForm->Cancelled;
  if (o->FWaitForm) o->FWaitForm->SetModalResult(mrOk);
  // The form closes on the last counts received, not on the last ones redrawn.
  o->ShowPendingProgress();
  if (o->FProgressForm)
    o->FProgressForm->SetModalResult(o->FProgressForm->Cancelled ? mrCancel : mrOk);
}
