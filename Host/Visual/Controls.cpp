#include "Host/Controls.h"

#include <algorithm>

#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/Graphics.h"
#include "Host/HiddenWindow.h"
#include "Host/Published.h"
#include "Host/SysUtils.h"
#include "Host/UIBackend.h"

namespace {

constexpr const char* ControlWindowClass = "HostControlWindow";

// Ends a repaint on every way out of the drawing code, exceptions included.
class TPaintScope {
 public:
  explicit TPaintScope(TControl& Control) : FControl(Control) { UIBackend().BeginPaint(Control); }
  ~TPaintScope() { UIBackend().EndPaint(FControl); }
  TPaintScope(const TPaintScope&) = delete;
  TPaintScope& operator=(const TPaintScope&) = delete;

 private:
  TControl& FControl;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
  FFont->OnChange = [this](TObject*) { Invalidate(); };
}

TControl::~TControl() {
  LeaveParent();
  FParent = nullptr;
}

void TControl::LeaveParent() {
  if (!FParent) return;
  auto& siblings = FParent->FControls;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  // What was under the control has to be drawn again.
  if (FVisible) FParent->Invalidate();
}

const TPublishedClass* TControl::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TControl::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TControl", &TComponent::PublishedClass());
    TPublish<TControl>(*c)
        .Integer("Left", &TControl::Left, &TControl::SetLeft)
        .Integer("Top", &TControl::Top, &TControl::SetTop)
        .Integer("Width", &TControl::Width, &TControl::SetWidth)
        .Integer("Height", &TControl::Height, &TControl::SetHeight);
    return c;
  }();
  return *publishedClass;
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0 || AHeight < 0)
    throw Exception(Format("Invalid size %dx%d for %s", AWidth, AHeight, ClassName().c_str()));
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  Invalidate();
  // What was under the old place has to be drawn again.
  if (FParent && FVisible) FParent->Invalidate();
  NotifyChanged();
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  VisibleChanged();
}

void TControl::VisibleChanged() {
  if (FVisible)
    Invalidate();
  else if (FParent)
    FParent->Invalidate();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FVisible) return false;
  return true;
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  for (const TControl* c = AParent; c; c = c->FParent)
    if (c == this) throw Exception("A control cannot be placed inside itself");
  LeaveParent();
  FParent = AParent;
  if (FParent) {
    FParent->FControls.push_back(this);
    Invalidate();
  }
}

void TControl::SetFont(const TFont* Value) {
  FFont->Assign(Value);
  Invalidate();
}

void TControl::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  Invalidate();
  NotifyChanged();
}

void TControl::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  NotifyChanged();
}

void TControl::NotifyChanged() {
  if (!Showing()) return;
  // Only what sits on a form is on view; a control on its own is shown by nobody.
  const TControl* top = this;
  while (top->FParent) top = top->FParent;
  if (dynamic_cast<const TCustomForm*>(top)) UIBackend().ControlChanged(*this);
}

void TControl::Invalidate() {
  if (FVisible && FParent) FParent->Invalidate();
}

// ---------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Children are only placed here, not owned: their owners free them later.
  for (TControl* child : FControls) child->FParent = nullptr;
  FControls.clear();
  if (FHandle) {
    // Destroying the window drops its queued messages, a pending WM_PAINT among them.
    plat::SetWindowLongA(FHandle, 0, 0);
    plat::DestroyWindow(FHandle);
    FHandle = 0;
  }
}

plat::HWND TWinControl::Handle() {
  if (FHandle) return FHandle;
  plat::HWND wnd = CreateHiddenWindow(ControlWindowClass, &TWinControl::MainWndProc, this);
  if (!wnd) throw Exception("Cannot create the window of a " + ClassName());
  FHandle = wnd;
  return FHandle;
}

plat::LRESULT TWinControl::MainWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                       plat::LPARAM lParam) {
  auto* control = reinterpret_cast<TWinControl*>(plat::GetWindowLongA(hwnd, 0));
  if (!control) return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
  TMessage message{msg, wParam, lParam, 0};
  // The control may be gone once WndProc returns (freed by a handler): touch only the copy.
  control->WndProc(message);
  return message.Result;
}

void TWinControl::WndProc(TMessage& Message) {
  if (Message.Msg == plat::WM_PAINT) {
    if (!FPaintPending) return;  // a second copy, and the first one already painted
    FPaintPending = false;
    Repaint();
    Message.Result = 0;
    return;
  }
  Message.Result = plat::DefWindowProcA(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TWinControl::Invalidate() {
  if (!Visible()) return;
  // A WM_PAINT that a loop took without dispatching it (a hook that set Handled, a loop
  // that drained the queue) would otherwise leave the control unpainted for good; one
  // that is merely late gets a harmless second copy.
  constexpr plat::DWORD lostAfterMs = 1000;
  if (FPaintPending && plat::GetTickCount() - FPaintPostedAt < lostAfterMs) return;
  if (plat::PostMessageA(Handle(), plat::WM_PAINT, 0, 0)) {
    FPaintPending = true;
    FPaintPostedAt = plat::GetTickCount();
  }
}

void TWinControl::VisibleChanged() {
  TControl::VisibleChanged();
  if (!Visible()) return;
  for (TControl* child : FControls)
    if (auto* windowed = dynamic_cast<TWinControl*>(child); windowed && windowed->Visible())
      windowed->VisibleChanged();
}

void TWinControl::Repaint() {
  if (!Showing()) return;
  TPaintScope scope(*this);
  PaintWindow();
}

// ---------------------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner)
    : TWinControl(AOwner), FCanvas(std::make_unique<TCanvas>(this)) {}

TCustomControl::~TCustomControl() = default;
