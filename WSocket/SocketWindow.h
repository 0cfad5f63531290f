// The hidden windows that receive the socket layer's notifications for the components.
#pragma once

#include "Platform/Messages.h"

class TCustomWSocket;

// Window procedure of the class "XSocketWindowClass": hands the message to the component
// stored in the window, or to the default procedure when none (or something else) is.
plat::LRESULT SocketWindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                               plat::LPARAM LParam);

// A hidden window of the class (registered on first use) that refers to Obj; 0 when the
// class cannot be registered or the window cannot be made.
plat::HWND CreateSocketWindow(TCustomWSocket* Obj);
// Detaches the window from its component first; 0 is ignored.
void DestroySocketWindow(plat::HWND Handle);
