// What a message pump goes through besides the thread's queue: a hook that sees every
// message before it is dispatched, a place for the errors that escape the hook, and a
// notice of the quit message. The application object is one; the pump knows nothing more
// of it, so the loops stay below the visual classes.
#pragma once

#include <functional>

#include "Platform/Export.h"
#include "Platform/Messages.h"

class TComponent;

class ORV_API TMessageFilter {
 public:
  virtual ~TMessageFilter() = default;

  // Called with every message that a pump through this filter takes from the queue,
  // before it is dispatched; setting Handled keeps it from being dispatched at all. A
  // plain member, so that the pump checks it without a call: most messages meet no hook.
  std::function<void(plat::MSG& Msg, bool& Handled)> OnMessage;

 protected:
  friend class TMessagePump;
  // The component whose destruction ends every pump through the filter.
  virtual TComponent& FilterOwner() noexcept = 0;
  // Fires OnMessage (called only while it is assigned); may destroy FilterOwner().
  virtual void TriggerMessage(plat::MSG& Msg, bool& Handled) = 0;
  // To be called inside a catch block: the error that escaped TriggerMessage, for a pump
  // that handles errors itself. Never raises.
  virtual void FilterFailed() = 0;
  // A pump took the quit message that came with ExitCode.
  virtual void QuitTaken(int ExitCode) = 0;
};

// The filter that a component's blocking call pumps through on the user-interface thread:
// the application, once the unit that makes it has installed its source (a function, so
// that whichever object is the application at the time is the one asked). Null without an
// application: such a pump takes the thread's messages straight to their windows.
using TModalWaitFilterSource = TMessageFilter* (*)() noexcept;
ORV_API void SetModalWaitFilter(TModalWaitFilterSource Source) noexcept;
ORV_API TMessageFilter* ModalWaitFilter() noexcept;
