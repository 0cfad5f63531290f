#include "WSocket/SocketWindow.h"

#include <mutex>
#include <typeinfo>

#include "Platform/KeptObjects.h"
#include "WSocket/CustomWSocket.h"
#include "WSocket/SslWSocket.h"
#include "WSocket/WSocket.h"

namespace {

// Stands for the package module's instance handle.
char ModuleInstance;

constexpr char SocketWindowClassName[] = "XSocketWindowClass";

std::mutex& ClassLock() {
  static auto* m = plat::KeepForProcess(new std::mutex);  // used until the process ends
  return *m;
}

bool EnsureWindowClass() {
  std::lock_guard lock(ClassLock());
  plat::WNDCLASSA existing{};
  if (plat::GetClassInfoA(&ModuleInstance, SocketWindowClassName, &existing)) return true;
  plat::WNDCLASSA wc{};
  wc.style = 0;
  wc.lpfnWndProc = &SocketWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = sizeof(void*);  // the component reference at index 0
  wc.hInstance = &ModuleInstance;
  wc.lpszClassName = SocketWindowClassName;
  return plat::RegisterClassA(&wc) != 0;
}

// The socket component the window's object is, or null. Every notification comes through
// here: the usual classes are recognised by their exact type, which costs a comparison,
// before the general cast walks the class tree.
TCustomWSocket* AsSocket(TObject* Obj) {
  if (Obj == nullptr) return nullptr;
  const std::type_info& type = typeid(*Obj);
  if (type == typeid(TWSocket) || type == typeid(TSslWSocket) || type == typeid(TCustomWSocket))
    return static_cast<TCustomWSocket*>(Obj);
  return dynamic_cast<TCustomWSocket*>(Obj);
}

}  // namespace

plat::LRESULT SocketWindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                               plat::LPARAM LParam) {
  // The window holds a TObject reference (or 0 once its component is gone): anything
  // that is not a socket component gets default processing.
  auto* obj = reinterpret_cast<TObject*>(plat::GetWindowLongA(Handle, 0));
  auto* socket = AsSocket(obj);
  if (socket == nullptr) return plat::DefWindowProcA(Handle, Msg, WParam, LParam);
  TMessage rec{Msg, WParam, LParam, 0};
  // The component may be destroyed by its own handler: only the local record is read
  // afterwards.
  socket->WndProc(rec);
  return rec.Result;
}

plat::HWND CreateSocketWindow(TCustomWSocket* Obj) {
  auto create = [] {
    return plat::CreateWindowExA(plat::WS_EX_TOOLWINDOW, SocketWindowClassName, "", plat::WS_POPUP,
                                 0, 0, 0, 0, 0, nullptr, &ModuleInstance, nullptr);
  };
  // A server makes a window per connection: the class, registered by the first, is simply
  // used, and looked at (under the class lock) only when the window cannot be made, as
  // before the first registration or after someone unregistered it.
  plat::HWND handle = create();
  if (handle == 0) {
    if (!EnsureWindowClass()) return 0;
    handle = create();
  }
  if (handle != 0 && Obj != nullptr)
    plat::SetWindowLongA(handle, 0, reinterpret_cast<plat::LONG_PTR>(static_cast<TObject*>(Obj)));
  return handle;
}

void DestroySocketWindow(plat::HWND Handle) {
  if (Handle == 0) return;
  // Messages still queued for the window then fall to the default procedure.
  plat::SetWindowLongA(Handle, 0, 0);
  plat::DestroyWindow(Handle);
}
