#include "StopSignals.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "Host/HiddenWindow.h"
#include "Platform/Reactor.h"

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr plat::UINT WM_STOP = plat::WM_USER + 1;

// The write end of the pipe the handler wakes the loop through; -1 when none.
volatile std::sig_atomic_t WakeFd = -1;

extern "C" void OnSignal(int Signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(Signal);
  if (WakeFd >= 0) (void)!::write(WakeFd, &byte, 1);
  errno = saved;
}

}  // namespace

const char* SignalName(int Signal) {
  switch (Signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

TStopSignals::TStopSignals(std::function<void(int)> OnStop) : FOnStop(std::move(OnStop)) {
  if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  FWindow = CreateHiddenWindow("TStopSignalsWindow", &WndProc, this);
  // The watch may only post: the stop itself runs from the loop, like any message.
  FWatching = FWindow && plat::reactor::Watch(FPipe[0], EPOLLIN, [this](std::uint32_t) {
                unsigned char byte = 0;
                while (::read(FPipe[0], &byte, 1) == 1)
                  plat::PostMessageA(FWindow, WM_STOP, byte, 0);
              });
  if (!FWatching) return;
  WakeFd = FPipe[1];
  for (std::size_t i = 0; i < std::size(Signals); ++i) {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(Signals[i], &action, &FSaved[i]);
  }
}

TStopSignals::~TStopSignals() {
  if (FWatching) {
    for (std::size_t i = 0; i < std::size(Signals); ++i)
      ::sigaction(Signals[i], &FSaved[i], nullptr);
    WakeFd = -1;
    plat::reactor::Remove(FPipe[0]);
  }
  if (FWindow) plat::DestroyWindow(FWindow);
  for (int fd : FPipe)
    if (fd >= 0) ::close(fd);
}

plat::LRESULT TStopSignals::WndProc(plat::HWND Hwnd, plat::UINT Msg, plat::WPARAM WParam,
                                    plat::LPARAM LParam) {
  if (Msg == WM_STOP) {
    if (auto* self = reinterpret_cast<TStopSignals*>(plat::GetWindowLongA(Hwnd, 0))) {
      const int signal = static_cast<int>(WParam);
      if (self->FReceived == 0) self->FReceived = signal;
      if (self->FOnStop) self->FOnStop(signal);
    }
    return 0;
  }
  return plat::DefWindowProcA(Hwnd, Msg, WParam, LParam);
}
