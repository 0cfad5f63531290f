#include "Host/HiddenWindow.h"

#include <mutex>

plat::HWND CreateHiddenWindow(const char* ClassName, plat::WNDPROC Proc, void* Owner) {
  {
    // Two threads making their first window of a class must not both register it.
    static std::mutex RegisterLock;
    std::lock_guard<std::mutex> Guard(RegisterLock);
    plat::WNDCLASSA Existing;
    if (!plat::GetClassInfoA(nullptr, ClassName, &Existing)) {
      plat::WNDCLASSA Class;
      Class.lpfnWndProc = Proc;
      Class.cbWndExtra = sizeof(void*);
      Class.lpszClassName = ClassName;
      plat::RegisterClassA(&Class);
    }
  }
  plat::HWND Wnd = plat::CreateWindowExA(plat::WS_EX_TOOLWINDOW, ClassName, "", plat::WS_POPUP, 0,
                                         0, 0, 0, 0, nullptr, nullptr, nullptr);
  if (Wnd) plat::SetWindowLongA(Wnd, 0, reinterpret_cast<plat::LONG_PTR>(Owner));
  return Wnd;
}
