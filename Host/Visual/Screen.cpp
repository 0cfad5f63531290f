#include "Host/Screen.h"

namespace {
// Constant-initialised, so other units' static initialisers may use it.
constinit TScreen TheScreen;
}  // namespace

TScreen* const Screen = &TheScreen;

void TScreen::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  UIBackend().ScreenCursorChanged(Value);
}
