// What every request of every TOrvane in the process shares: one HTTP client and the
// object that receives its request-done event.
#pragma once

#include <cstdint>

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

// The shared client and its events object; both exist from the first request of any
// TOrvane until a TOrvane is destroyed.
THttpCli*& SharedHttpCliRef();
THttpEvents*& SharedHttpEventsRef();
