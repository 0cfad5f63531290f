// What a blocking call needs from a wait control, so that a component below the visual
// classes (the socket) can hold its caller in one: the control itself (a visual one, such
// as TWait) implements it, and the component knows nothing more of it.
//
// User-interface thread only, like the control. StartModal runs a nested message loop
// whose handlers may call Stop or free the control.
#pragma once

#include <string>

#include "Platform/Export.h"

class TComponent;

class ORV_API TWaitControl {
 public:
  // The component behind the control: a holder asks for its free-notification.
  virtual TComponent& WaitComponent() noexcept = 0;
  // Sets the count that the control starts from (decimal text) and shows it.
  virtual void ShowWait(const std::string& Count) = 0;
  virtual void HideWait() = 0;
  // Starts the count-down, without or with a modal loop that returns when it ends.
  virtual void Start() = 0;
  virtual void StartModal() = 0;
  // Ends the count-down; a modal loop returns.
  virtual void Stop() = 0;
  virtual bool Running() const = 0;

 protected:
  // Not freed through this interface: the component's owner frees it.
  ~TWaitControl() = default;
};
