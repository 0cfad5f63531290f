// What the files of the windowed back-end share: the back-end that FLTK's callbacks reach,
// colours, fonts and texts as FLTK takes them, the widget that replays a canvas, and the
// records of a form and a dialog the back-end shows. Not installed.
#pragma once

#include <FL/Enumerations.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Widget.H>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Host/FltkBackend.h"
#include "Host/Visual/Colors.h"

class TFont;
class TControl;
class TCustomForm;

namespace fltkparts {

// The back-end that FLTK's callbacks hand the user's actions to; null when none is alive.
extern TFltkBackend* GBackend;

// ---- colours, fonts and texts (Style.cpp) ----

Fl_Color ToFlColor(TColor Color);

struct TFlFont {
  Fl_Font Face = FL_HELVETICA;
  int Size = 12;
  Fl_Color Color = FL_FOREGROUND_COLOR;
};
TFlFont ToFlFont(const TFont* Font);

std::string Lower(std::string S);
std::string Upper(std::string S);
// FLTK reads "@" as the start of a symbol; "&" stays an access key only where wanted.
std::string FlText(const std::string& Text, bool AccessKeys);
std::string JoinLines(const std::vector<std::string>& Lines);

// ---- canvas replay (Canvas.cpp) ----

// One recorded drawing call of a canvas.
struct TDrawOp {
  enum TKind : std::uint8_t { Rect, Fill, Text } Kind = Rect;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  Fl_Color Pen = FL_BLACK;
  Fl_Color Brush = FL_WHITE;
  int PenWidth = 1;
  TFlFont Font;
  std::string Str;
};

// A custom control's face: what its last paint drew, replayed whenever FLTK redraws.
class TCanvasWidget : public Fl_Widget {
 public:
  TCanvasWidget(int X, int Y, int W, int H) : Fl_Widget(X, Y, W, H) {}
  std::vector<TDrawOp> Ops;

 protected:
  void draw() override;
};

// ---- keys (Forms.cpp) ----

// The key of the event being handled is Enter (either of them).
bool IsEnterKey();
// The button inside Window that has the keyboard focus, or null.
Fl_Button* FocusedButton(Fl_Window& Window);

// A default button as FLTK draws one, with the return arrow; but Enter is not its own
// shortcut: the window decides, pressing the focused button when a button has the focus
// and this one only otherwise.
class TDefaultButton : public Fl_Return_Button {
 public:
  using Fl_Return_Button::Fl_Return_Button;
  int handle(int Event) override;
};

// The window of a box or dialog: Enter that no other control took presses the focused
// button, else Default (when set).
class TDialogWindow : public Fl_Double_Window {
 public:
  using Fl_Double_Window::Fl_Double_Window;
  Fl_Button* Default = nullptr;
  int handle(int Event) override;
};

// ---- window frames (Forms.cpp) ----

// What the window manager is to offer on a window's frame (moving it always).
struct TWindowHints {
  bool Resize = false;
  bool Close = false;
  bool Minimize = false;
  bool Maximize = false;
};
// Sends them; after every size_range() of a shown window (which sends FLTK's again).
void SetWindowHints(Fl_Window& W, const TWindowHints& Hints);
// Shows W with the hints in place before it is mapped (FLTK writes its own as it creates
// the window). Bordered: without a window manager nobody frames a window, and a box over
// the main window looks like text written on it, so W draws a border of its own then, and
// where the window manager frames it with a title bar only.
void ShowWithHints(Fl_Window& W, const TWindowHints& Hints, bool Bordered);
TWindowHints HintsOf(const TCustomForm& Form);

// ---- forms (Forms.cpp) ----

// A form's window: Enter that no control took presses the focused button, else the form's
// default one; the close box and Escape go to the window's callback.
class TFormWindow : public Fl_Double_Window {
 public:
  TFormWindow(int X, int Y, int W, int H) : Fl_Double_Window(X, Y, W, H) {}
  int handle(int Event) override;
};

}  // namespace fltkparts

struct TFltkBackend::TShownForm {
  TCustomForm* Form = nullptr;
  int MenuHeight = 0;
  // Destroyed after the window, whose text displays use them.
  std::vector<std::unique_ptr<Fl_Text_Buffer>> Buffers;
  std::vector<std::unique_ptr<std::function<void()>>> MenuActions;
  std::unique_ptr<fltkparts::TFormWindow> Window;
  std::vector<std::pair<TControl*, Fl_Widget*>> Widgets;

  Fl_Widget* WidgetOf(const TControl* Control) const {
    for (const auto& [c, w] : Widgets)
      if (c == Control) return w;
    return nullptr;
  }
};

struct TFltkBackend::TDialog {
  std::unique_ptr<fltkparts::TDialogWindow> Window;
  fltkparts::TWindowHints Hints;
  bool Done = false;
  TModalResult Result = mrNone;
};
