#include "Host/BackendChoice.h"
#include "Host/FltkBackend.h"
#include "Host/TerminalBackend.h"

namespace {
TFltkBackend* GBest = nullptr;
}  // namespace

bool WindowedBackendBuilt() { return true; }

std::unique_ptr<TUIBackend> OpenWindowedBackend() {
  auto windowed = std::make_unique<TFltkBackend>();
  if (!windowed->Open()) return nullptr;
  return windowed;
}

TUIBackend& UseBestBackend() {
  static TUIBackend* chosen = nullptr;
  if (chosen) return *chosen;
  if (auto windowed = OpenWindowedBackend()) {
    GBest = static_cast<TFltkBackend*>(windowed.release());
    chosen = GBest;
  } else {
    chosen = new TTerminalBackend();
  }
  SetUIBackend(chosen);
  return *chosen;
}

bool WindowedBackendInstalled() { return InstalledFltkBackend() != nullptr; }

TFltkBackend* InstalledFltkBackend() {
  return GBest && &UIBackend() == GBest ? GBest : nullptr;
}

bool SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands) {
  TFltkBackend* windows = InstalledFltkBackend();
  if (!windows) return false;
  windows->SetFormMenu(Form, std::move(Commands));
  return true;
}
