// What every request of every TOrvane in the process shares: one HTTP client, the object
// that receives its request-done event, and the owner that says when they go.
#pragma once

#include <cstdint>
#include <memory>

#include "Host/Component.h"
#include "HttpProt/HttpCli.h"

class TOrvane;

class THttpEvents : public TObject {
 public:
  explicit THttpEvents(TOrvane* AOwner) : Owner(AOwner) {}
  std::string ClassName() const override { return "THttpEvents"; }

  // Records the request's failure in Owner's LastError and ends Owner's waiting form.
  void HttpRequestDone(TObject* Sender, THttpRequest RqType, std::uint16_t Error);

  // The component whose request runs; every component rebinds it when it starts one.
  TOrvane* Owner;
};

// The owner of the shared client. The client is made on the first request of any
// component and freed when a component goes, unless it reports to another component: a
// component that goes while another's request runs leaves that request alone, and the
// last one to go takes the client with it. The owner itself is never destroyed, so that a
// component freed late in the program's end still finds it.
class TSharedHttpClient {
 public:
  static TSharedHttpClient& Instance();

  // nullptr before the first request and after the client was freed.
  THttpCli* Client() const { return FCli.get(); }
  // The client, made on first use; its request-done goes to Owner from now on.
  THttpCli& Acquire(TOrvane* Owner);
  // What the client reports next (the end of a request just aborted) goes to nobody.
  void Disown();
  // Aborts the request under way, whose end then reports to nobody.
  void AbortUnowned();

  // Every component counts itself in for its lifetime.
  void Join() { ++FUsers; }
  void Leave(const TOrvane* Component);

 private:
  TSharedHttpClient() = default;
  void Free();

  std::unique_ptr<THttpEvents> FEvents;
  std::unique_ptr<THttpCli> FCli;
  int FUsers = 0;
};
