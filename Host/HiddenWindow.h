// The never-shown windows through which timers and windowed controls get their messages.
#pragma once

#include "Platform/Export.h"
#include "Platform/Messages.h"

// Creates a window of ClassName for the calling thread, first registering the class (with
// Proc and room for one pointer) unless the process already has it, and keeps Owner in
// that room for Proc to find. 0 when the system refuses the window.
ORV_API plat::HWND CreateHiddenWindow(const char* ClassName, plat::WNDPROC Proc, void* Owner);
