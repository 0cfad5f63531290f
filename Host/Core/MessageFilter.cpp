#include "Host/MessageFilter.h"

namespace {

// Set once, while the program starts, by the unit that makes the application.
TModalWaitFilterSource WaitFilterSource = nullptr;

}  // namespace

void SetModalWaitFilter(TModalWaitFilterSource Source) noexcept {
  WaitFilterSource = Source;
}

TMessageFilter* ModalWaitFilter() noexcept {
  return WaitFilterSource != nullptr ? WaitFilterSource() : nullptr;
}
