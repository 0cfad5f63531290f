// The back-end choice of a build without the windowed back-end: the terminal it is.
#include "Host/BackendChoice.h"
#include "Host/TerminalBackend.h"

bool WindowedBackendBuilt() { return false; }

std::unique_ptr<TUIBackend> OpenWindowedBackend() { return nullptr; }

TUIBackend& UseBestBackend() {
  static TUIBackend* chosen = nullptr;
  if (!chosen) {
    chosen = new TTerminalBackend();
    SetUIBackend(chosen);
  }
  return *chosen;
}

bool WindowedBackendInstalled() { return false; }

bool SetFormMenu(TCustomForm&, std::vector<TMenuCommand>) { return false; }
