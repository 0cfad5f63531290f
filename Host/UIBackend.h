// The seam between the visual classes and whatever shows them to the user.
//
// Controls, canvases and the application object never draw, beep or talk to the user
// themselves: they hand each request to the installed back-end. Back-ends are not
// owned by the framework; the quiet default (nothing drawn, messages to stderr) is in
// place whenever no other one is installed. Used from the user-interface thread.
#pragma once

#include <string>

#include "Platform/Messages.h"

class TCanvas;
class TControl;
struct TRect;

class TUIBackend {
 public:
  virtual ~TUIBackend() = default;

  // Bracket one repaint of a control; every drawing call in between belongs to it.
  virtual void BeginPaint(TControl& Control) = 0;
  virtual void EndPaint(TControl& Control) = 0;

  // Coordinates are relative to the canvas's control; pen, brush and font are read from
  // the canvas at the time of the call.
  virtual void Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) = 0;
  virtual void FillRect(TCanvas& Canvas, const TRect& Rect) = 0;
  virtual void TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) = 0;

  // Type is the sound's kind (0 = the default sound).
  virtual void Beep(plat::UINT Type) = 0;
  // Tells the user something that needs no answer (an error nobody else handled).
  virtual void ShowMessage(const std::string& Title, const std::string& Text) = 0;
};

// The installed back-end, or the quiet default.
TUIBackend& UIBackend();
// Installs Backend (not owned; nullptr goes back to the default) and answers the one that
// was installed before.
TUIBackend* SetUIBackend(TUIBackend* Backend);

// Installs a back-end for the lifetime of the scope and puts the previous one back.
class TUIBackendScope {
 public:
  explicit TUIBackendScope(TUIBackend& Backend) : FPrevious(SetUIBackend(&Backend)) {}
  ~TUIBackendScope() { SetUIBackend(FPrevious); }
  TUIBackendScope(const TUIBackendScope&) = delete;
  TUIBackendScope& operator=(const TUIBackendScope&) = delete;

 private:
  TUIBackend* FPrevious;
};

// Sounds a beep of the given kind through the back-end (0 = the default sound).
void MessageBeep(plat::UINT uType);
