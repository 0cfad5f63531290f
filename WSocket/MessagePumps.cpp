// The message pumps a thread that owns socket components runs.
#include "WSocket/CustomWSocket.h"

void TCustomWSocket::MessageLoop() {
  plat::MSG msg{};
  while (plat::GetMessageA(&msg, 0, 0, 0) > 0) {
    plat::TranslateMessage(&msg);
    plat::DispatchMessageA(&msg);
  }
}

void TCustomWSocket::ProcessMessages() {
  plat::MSG msg{};
  while (plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.message == plat::WM_QUIT) {
      // Left for the thread's own loop, which must end too.
      plat::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    plat::TranslateMessage(&msg);
    plat::DispatchMessageA(&msg);
  }
}
