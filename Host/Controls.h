// The control classes: a control with position, size, visibility, font and text; a
// windowed control that receives messages through a hidden window of its own; and a
// custom control that paints itself on a canvas.
//
// Painting is asynchronous: Invalidate posts one WM_PAINT to the windowed control's
// window, and the control repaints when the message loop dispatches it. Everything
// here belongs to the user-interface thread that created the control's window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Host/Component.h"
#include "Host/HiddenWindow.h"
#include "Host/UIBackend.h"
#include "Platform/Export.h"
#include "Platform/Messages.h"

class TCanvas;
class TFont;
class TWinControl;

// The mouse pointer's shape over a control or the whole screen.
using TCursor = std::int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHourGlass = -11;

class ORV_API TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;
  std::string ClassName() const override { return "TControl"; }
  // Position and size, which every control keeps in form files.
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  // A negative width or height raises Exception; a change of size repaints.
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and so is every parent up the chain.
  bool Showing() const;

  // The windowed control this one sits on (not owned; nullptr for none).
  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  // Owned; SetFont copies the given font's state.
  TFont* Font() const { return FFont.get(); }
  void SetFont(const TFont* Value);

  // The control's text (a form's title, a label's or a button's caption). A change repaints.
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& Value) { SetText(Value); }

  // The pointer's shape over the control.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

  // Asks for a repaint from the message loop. A control without a window of its own
  // repaints through its parent.
  virtual void Invalidate();

 protected:
  virtual void VisibleChanged();
  // Tells the back-end that the control, while showing, changed what it shows.
  void NotifyChanged();

 private:
  friend class TWinControl;
  // Takes the control out of its parent's list (the parent pointer stays as it is).
  void LeaveParent();

  int FLeft = 0;
  int FTop = 0;
  int FWidth = 0;
  int FHeight = 0;
  bool FVisible = true;
  TWinControl* FParent = nullptr;
  std::unique_ptr<TFont> FFont;
  std::string FText;
  TCursor FCursor = crDefault;
};

class ORV_API TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  std::string ClassName() const override { return "TWinControl"; }

  // The hidden window that carries this control's messages; made on first use, by and for
  // the calling thread.
  plat::HWND Handle();
  bool HandleAllocated() const { return FHandle != 0; }

  // The controls whose parent this is, in the order they were placed (not owned).
  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const { return FControls.at(static_cast<size_t>(Index)); }

  // Posts one WM_PAINT; further calls before it is dispatched add nothing.
  void Invalidate() override;
  // Paints at once through the back-end, when showing.
  void Repaint();

 protected:
  // Coming into view repaints the windowed controls inside as well.
  void VisibleChanged() override;
  // Every message of the control's window comes here; the default paints on WM_PAINT and
  // leaves the rest to the platform's default handling.
  virtual void WndProc(TMessage& Message);
  // Draws the control itself between the back-end's BeginPaint and EndPaint.
  virtual void PaintWindow() {}

 private:
  friend class TControl;
  static plat::LRESULT MainWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                   plat::LPARAM lParam);
  plat::HWND FHandle = 0;
  bool FPaintPending = false;
  plat::DWORD FPaintPostedAt = 0;
  std::vector<TControl*> FControls;
};

class ORV_API TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  std::string ClassName() const override { return "TCustomControl"; }

  // Owned; valid for the control's whole life.
  TCanvas* Canvas() const { return FCanvas.get(); }

  // Draws the control on Canvas(); called through Repaint or a dispatched WM_PAINT.
  virtual void Paint() {}

 protected:
  void PaintWindow() override { Paint(); }

 private:
  std::unique_ptr<TCanvas> FCanvas;
};
