#include "Host/UIBackend.h"

#include <atomic>
#include <cstdio>

namespace {

// What runs when nobody installed a back-end: draws nothing, stays silent, and still
// lets an unhandled error be seen.
class TQuietBackend final : public TUIBackend {
 public:
  void BeginPaint(TControl&) override {}
  void EndPaint(TControl&) override {}
  void Rectangle(TCanvas&, int, int, int, int) override {}
  void FillRect(TCanvas&, const TRect&) override {}
  void TextOut(TCanvas&, int, int, const std::string&) override {}
  void Beep(plat::UINT) override {}
  void ShowMessage(const std::string& Title, const std::string& Text) override {
    if (Title.empty())
      std::fprintf(stderr, "%s\n", Text.c_str());
    else
      std::fprintf(stderr, "%s: %s\n", Title.c_str(), Text.c_str());
  }
};

// Constant-initialised, so it is usable from other units' static initialisers.
constinit std::atomic<TUIBackend*> Installed{nullptr};

TQuietBackend& Quiet() {
  static TQuietBackend Instance;
  return Instance;
}

}  // namespace

TUIBackend& UIBackend() {
  TUIBackend* Backend = Installed.load(std::memory_order_acquire);
  return Backend ? *Backend : Quiet();
}

TUIBackend* SetUIBackend(TUIBackend* Backend) {
  return Installed.exchange(Backend, std::memory_order_acq_rel);
}

void MessageBeep(plat::UINT uType) {
  UIBackend().Beep(uType);
}
