// The hook a TOrvane puts on the application's exception handler while it requests.
#pragma once

#include <functional>
#include <memory>

#include "Host/SysUtils.h"

class TObject;
class TOrvane;

// Outlives the component when another hook was put on top of this one: the hook then only
// passes every error on to the handler it saved.
struct TOrvHookState {
  TOrvane* Owner = nullptr;  // null once the component took its hook back or is gone
  std::function<void(TObject* Sender, const Exception& E)> Saved;
};

// The handler installed in the application.
struct TOrvHook {
  std::shared_ptr<TOrvHookState> State;
  void operator()(TObject* Sender, const Exception& E) const;
};
