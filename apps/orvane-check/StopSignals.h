// SIGINT, SIGTERM and SIGHUP as a request to stop that reaches the message loop: the
// check then ends the way the user's Cancel ends it, with the terminal put back and no
// partial file left, instead of the process dying on the spot.
#pragma once

#include <csignal>
#include <functional>

#include "Platform/Messages.h"

class TStopSignals {
 public:
  // OnStop runs from the message loop, once per signal, with the signal's number.
  explicit TStopSignals(std::function<void(int Signal)> OnStop);
  // Puts the handlers that were in place back.
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // The first signal that came, or 0.
  int Received() const { return FReceived; }

 private:
  static plat::LRESULT WndProc(plat::HWND Hwnd, plat::UINT Msg, plat::WPARAM WParam,
                               plat::LPARAM LParam);

  std::function<void(int)> FOnStop;
  int FReceived = 0;
  int FPipe[2] = {-1, -1};
  plat::HWND FWindow = 0;
  bool FWatching = false;
  struct sigaction FSaved[3]{};
};

// "SIGTERM" for SIGTERM, and so on.
const char* SignalName(int Signal);
