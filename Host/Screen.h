// The screen: its size, as the UI back-end reports it, and the cursor shown over the
// whole application (crDefault lets each control's own cursor show).
#pragma once

#include "Host/Controls.h"
#include "Platform/Export.h"

class ORV_API TScreen {
 public:
  int Width() const { return UIBackend().ScreenWidth(); }
  int Height() const { return UIBackend().ScreenHeight(); }
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

 private:
  TCursor FCursor = crDefault;
};

// Lives as long as the process, like Application.
extern ORV_API TScreen* const Screen;
