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
    std::string shown;
    for (const std::string& line : MessageLines(Text)) shown += (shown.empty() ? "" : " ") + line;
    if (Title.empty())
      std::fprintf(stderr, "%s\n", shown.c_str());
    else
      std::fprintf(stderr, "%s: %s\n", Title.c_str(), shown.c_str());
  }
  // Nobody can answer: the default button it is.
  TModalResult MessageBox(const TMessageBoxRequest& Request) override {
    ShowMessage(Request.Caption, Request.Text);
    const auto index = static_cast<size_t>(Request.DefaultButton);
    return index < Request.Buttons.size() ? Request.Buttons[index] : Request.EscapeResult;
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
  static TQuietBackend instance;
  return instance;
}

}  // namespace

TUIBackend& UIBackend() {
  TUIBackend* backend = Installed.load(std::memory_order_acquire);
  return backend ? *backend : Quiet();
}

TUIBackend* SetUIBackend(TUIBackend* Backend) {
  return Installed.exchange(Backend, std::memory_order_acq_rel);
}

void MessageBeep(plat::UINT uType) {
  UIBackend().Beep(uType);
}

std::vector<std::string> MessageLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  lines.push_back(std::move(line));
  return lines;
}
