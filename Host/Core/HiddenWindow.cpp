#include "Host/HiddenWindow.h"

#include <mutex>

plat::HWND CreateHiddenWindow(const char* ClassName, plat::WNDPROC Proc, void* Owner) {
  {
    // Two threads making their first window of a class must not both register it.
    static std::mutex registerLock;
    std::lock_guard<std::mutex> guard(registerLock);
    plat::WNDCLASSA existing;
    if (!plat::GetClassInfoA(nullptr, ClassName, &existing)) {
      plat::WNDCLASSA windowClass;
      windowClass.lpfnWndProc = Proc;
      windowClass.cbWndExtra = sizeof(void*);
      windowClass.lpszClassName = ClassName;
      plat::RegisterClassA(&windowClass);
    }
  }
  plat::HWND wnd = plat::CreateWindowExA(plat::WS_EX_TOOLWINDOW, ClassName, "", plat::WS_POPUP, 0,
                                         0, 0, 0, 0, nullptr, nullptr, nullptr);
  if (wnd) plat::SetWindowLongA(wnd, 0, reinterpret_cast<plat::LONG_PTR>(Owner));
  return wnd;
}
