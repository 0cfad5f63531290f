#include "Host/UIBackend.h"

#include <atomic>
#include <cstdio>

namespace {

// What runs when nobody installed a back-end: draws nothing, asks nobody, and still lets
// an unhandled error or a box be seen.
class TQuietBackend final : public TUIBackend {
 public:
  void BeginPaint(TControl&) override {}
  void EndPaint(TControl&) override {}
  void Rectangle(TCanvas&, int, int, int, int) override {}
  void FillRect(TCanvas&, const TRect&) override {}
  void TextOut(TCanvas&, int, int, const std::string&) override {}
  void Beep(plat::UINT) override {}
  void ShowMessage(const std::string& Title, const std::string& Text) override {
    std::string Shown;
    for (const std::string& Line : MessageLines(Text)) Shown += (Shown.empty() ? "" : " ") + Line;
    if (Title.empty())
      std::fprintf(stderr, "%s\n", Shown.c_str());
    else
      std::fprintf(stderr, "%s: %s\n", Title.c_str(), Shown.c_str());
  }
  // Nobody can answer: the default button it is.
  TModalResult MessageBox(const TMessageBoxRequest& Request) override {
    ShowMessage(Request.Caption, Request.Text);
    const auto Index = static_cast<size_t>(Request.DefaultButton);
    return Index < Request.Buttons.size() ? Request.Buttons[Index] : Request.EscapeResult;
  }
  bool SaveDialog(TSaveDialogRequest&) override { return false; }
  void FormShown(TCustomForm&) override {}
  void FormHidden(TCustomForm&) override {}
  void ControlChanged(TControl&) override {}
  void ModalPass(TCustomForm&) override {}
  int ScreenWidth() override { return 1024; }
  int ScreenHeight() override { return 768; }
  void ScreenCursorChanged(int) override {}
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

std::vector<std::string> MessageLines(const std::string& Text) {
  std::vector<std::string> Lines;
  std::string Line;
  for (size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '\r' || C == '\n') {
      Lines.push_back(std::move(Line));
      Line.clear();
      if (C == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
    } else {
      Line += C;
    }
  }
  Lines.push_back(std::move(Line));
  return Lines;
}
