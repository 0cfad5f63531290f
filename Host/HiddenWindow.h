// The never-shown windows through which timers and windowed controls get their messages.
#pragma once

#include "Platform/Export.h"
#include "Platform/Messages.h"

// A window message as the owner of a window (a control's WndProc, a socket's or a timer's
// hidden window) sees it; Result goes back to the sender.
struct ORV_API TMessage {
  plat::UINT Msg = 0;
  plat::WPARAM WParam = 0;
  plat::LPARAM LParam = 0;
  plat::LRESULT Result = 0;
};

// Creates a window of ClassName for the calling thread, first registering the class (with
// Proc and room for one pointer) unless the process already has it, and keeps Owner in
// that room for Proc to find. 0 when the system refuses the window.
ORV_API plat::HWND CreateHiddenWindow(const char* ClassName, plat::WNDPROC Proc, void* Owner);
