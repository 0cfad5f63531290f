#include <FL/Fl.H>
#include <dlfcn.h>

#include "Host/BackendChoice.h"
#include "Host/FltkBackend.h"
#include "Host/TerminalBackend.h"

namespace {

TFltkBackend* GBest = nullptr;

// FLTK keeps objects of its own (its display device) in globals that it never frees, and
// a display it opened stays in Xlib's hands: unloaded with the package (a design tool
// unloading it), the objects would be lost and the connection cut from under Xlib. So
// once the package brought the toolkit into the process, it stays there.
[[maybe_unused]] const bool ToolkitKept = [] {
  Dl_info info{};
  const auto anyFunction = reinterpret_cast<void*>(&Fl::check);
  if (::dladdr(anyFunction, &info) == 0 || info.dli_fname == nullptr) return false;
  return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}();

}  // namespace

bool WindowedBackendBuilt() {
  return true;
}

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

bool WindowedBackendInstalled() {
  return InstalledFltkBackend() != nullptr;
}

TFltkBackend* InstalledFltkBackend() {
  return GBest && &UIBackend() == GBest ? GBest : nullptr;
}

bool SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands) {
  TFltkBackend* windows = InstalledFltkBackend();
  if (!windows) return false;
  windows->SetFormMenu(Form, std::move(Commands));
  return true;
}
