#include "Host/FltkBackend.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/filename.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Component.h"
#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/Graphics.h"
#include "Host/HiddenWindow.h"
#include "Host/MessagePump.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalBackend.h"
#include "Platform/Reactor.h"

namespace {

// Posted to the back-end's window when the display has something for FLTK.
constexpr plat::UINT CM_PUMP = plat::WM_USER + 0x0C00;
constexpr std::uintptr_t PumpTimer = 1;
// FLTK's own timers (scroll-bar repeat, menus) get no descriptor: a slow tick serves them.
constexpr plat::UINT PumpTimerMs = 100;
constexpr int MenuBarHeight = 25;

TFltkBackend* GBackend = nullptr;

Fl_Color ToFlColor(TColor Color) {
  if (Color == clNone || Color == clDefault) return FL_BACKGROUND_COLOR;
  if (IsSystemColor(Color)) {
    if (Color == clWindow || Color == clInfoBk) return FL_BACKGROUND2_COLOR;
    if (Color == clWindowText || Color == clBtnText || Color == clMenuText ||
        Color == clCaptionText || Color == clInfoText)
      return FL_FOREGROUND_COLOR;
    if (Color == clHighlight) return fl_rgb_color(0x33, 0x66, 0xCC);
    if (Color == clHighlightText) return FL_WHITE;
    if (Color == clGrayText || Color == clBtnShadow) return FL_DARK3;
    return FL_BACKGROUND_COLOR;
  }
  const auto c = static_cast<std::uint32_t>(Color);
  return fl_rgb_color(static_cast<uchar>(c & 0xFF), static_cast<uchar>((c >> 8) & 0xFF),
                      static_cast<uchar>((c >> 16) & 0xFF));
}

struct TFlFont {
  Fl_Font Face = FL_HELVETICA;
  int Size = 12;
  Fl_Color Color = FL_FOREGROUND_COLOR;
};

std::string Lower(std::string S) {
  for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

std::string Upper(std::string S) {
  for (char& c : S) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

TFlFont ToFlFont(const TFont* Font) {
  TFlFont f;
  if (Font == nullptr) return f;
  const std::string name = Lower(Font->Name());
  Fl_Font base = FL_HELVETICA;
  if (Font->Pitch() == fpFixed || name.find("courier") != std::string::npos ||
      name.find("mono") != std::string::npos)
    base = FL_COURIER;
  else if (name.find("times") != std::string::npos ||
           (name.find("serif") != std::string::npos && name.find("sans") == std::string::npos))
    base = FL_TIMES;
  if (Font->Style().Contains(fsBold)) base += FL_BOLD;
  if (Font->Style().Contains(fsItalic)) base += FL_ITALIC;
  f.Face = base;
  // Height is the character height in pixels (negative: without the internal leading).
  const int px = std::abs(Font->Height());
  f.Size = px > 0 ? px + 1 : 12;
  f.Color = ToFlColor(Font->Color());
  if (f.Color == FL_BACKGROUND_COLOR) f.Color = FL_FOREGROUND_COLOR;
  return f;
}

// FLTK reads "@" as the start of a symbol; "&" stays an access key only where wanted.
std::string FlText(const std::string& Text, bool AccessKeys) {
  std::string out;
  out.reserve(Text.size());
  for (char c : Text) {
    if (c == '@') out += '@';
    if (c == '&' && !AccessKeys) out += '&';
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string out;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i) out += '\n';
    out += Lines[i];
  }
  return out;
}

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
  void draw() override {
    fl_push_clip(x(), y(), w(), h());
    for (const TDrawOp& op : Ops) {
      const int x1 = x() + op.X1, y1 = y() + op.Y1;
      switch (op.Kind) {
        case TDrawOp::Rect:
          // The right and bottom edges lie outside, as with the fill.
          fl_rectf(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1, op.Brush);
          fl_color(op.Pen);
          fl_line_style(FL_SOLID, op.PenWidth);
          fl_rect(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1);
          fl_line_style(0);
          break;
        case TDrawOp::Fill:
          fl_rectf(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1, op.Brush);
          break;
        case TDrawOp::Text:
          fl_font(op.Font.Face, op.Font.Size);
          fl_color(op.Font.Color);
          fl_draw(op.Str.c_str(), x1, y1 + fl_height() - fl_descent());
          break;
      }
    }
    fl_pop_clip();
  }
};

std::string StripAccessKey(const std::string& Caption) {
  std::string out;
  for (size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == '&' && i + 1 < Caption.size()) ++i;
    out += Caption[i];
  }
  return out;
}

std::vector<TButton*> ButtonsOf(const TCustomForm& Form) {
  std::vector<TButton*> buttons;
  for (int i = 0; i < Form.ControlCount(); ++i)
    if (auto* b = dynamic_cast<TButton*>(Form.Controls(i)); b && b->Visible()) buttons.push_back(b);
  return buttons;
}

// What Escape presses: the form's Cancel button, else one captioned Cancel, else its only
// button (as on the terminal).
TButton* CancelButtonOf(const TCustomForm& Form) {
  if (TButton* b = Form.CancelButton()) return b;
  const std::vector<TButton*> buttons = ButtonsOf(Form);
  for (TButton* b : buttons)
    if (StripAccessKey(b->Caption()) == "Cancel") return b;
  return buttons.size() == 1 ? buttons[0] : nullptr;
}

// What Enter presses: the Default button, else the first one.
TButton* DefaultButtonOf(const TCustomForm& Form) {
  if (TButton* b = Form.DefaultButton()) return b;
  const std::vector<TButton*> buttons = ButtonsOf(Form);
  return buttons.empty() ? nullptr : buttons[0];
}

// A form's window: Enter that no control took presses the default button; the close box
// and Escape go to the window's callback.
class TFormWindow : public Fl_Double_Window {
 public:
  TFormWindow(int X, int Y, int W, int H) : Fl_Double_Window(X, Y, W, H) {}

  int handle(int Event) override {
    if (Fl_Double_Window::handle(Event)) return 1;
    const bool enter = Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
    if (Event != FL_SHORTCUT || !enter || !GBackend) return 0;
    auto* form = static_cast<TCustomForm*>(user_data());
    GBackend->Defer([form] {
      if (!GBackend || !GBackend->Shows(form)) return;
      if (TButton* b = DefaultButtonOf(*form)) b->Click();
    });
    return 1;
  }
};

// Asks the window manager for the border icons the form has: without the system menu the
// close box goes, and with it closing by the window manager.
void SetWindowHints(Fl_Window& W, const TCustomForm& Form) {
  const Window x = fl_xid(&W);
  if (!x) return;
  enum : unsigned long {
    FuncResize = 1ul << 1,
    FuncMove = 1ul << 2,
    FuncMinimize = 1ul << 3,
    FuncMaximize = 1ul << 4,
    FuncClose = 1ul << 5,
    DecoBorder = 1ul << 1,
    DecoResizeH = 1ul << 2,
    DecoTitle = 1ul << 3,
    DecoMenu = 1ul << 4,
    DecoMinimize = 1ul << 5,
    DecoMaximize = 1ul << 6,
  };
  const TBorderIcons icons = Form.BorderIcons();
  const bool sizeable = Form.BorderStyle() == bsSizeable || Form.BorderStyle() == bsSizeToolWin;
  unsigned long funcs = FuncMove, decos = DecoBorder | DecoTitle;
  if (sizeable) funcs |= FuncResize, decos |= DecoResizeH;
  if (icons.Contains(biSystemMenu)) funcs |= FuncClose, decos |= DecoMenu;
  const bool dialog = Form.BorderStyle() == bsDialog;
  if (icons.Contains(biMinimize) && !dialog) funcs |= FuncMinimize, decos |= DecoMinimize;
  if (icons.Contains(biMaximize) && !dialog && sizeable)
    funcs |= FuncMaximize, decos |= DecoMaximize;
  long hints[5] = {3, static_cast<long>(funcs), static_cast<long>(decos), 0, 0};
  const Atom motif = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, x, motif, motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
}

plat::LRESULT BackendWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                             plat::LPARAM lParam) {
  if (msg == CM_PUMP || (msg == plat::WM_TIMER && wParam == PumpTimer)) {
    if (auto* self = reinterpret_cast<TFltkBackend*>(plat::GetWindowLongA(hwnd, 0))) self->Pump();
    return 0;
  }
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Tells the back-end when a form or control it shows is destroyed.
class TWidgetWatch : public TComponent {
 public:
  explicit TWidgetWatch(TFltkBackend& Backend) : TComponent(nullptr), FBackend(Backend) {}
  std::string ClassName() const override { return "TWidgetWatch"; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) FBackend.ComponentDestroyed(AComponent);
  }

 private:
  TFltkBackend& FBackend;
};

}  // namespace

struct TFltkBackend::TShownForm {
  TCustomForm* Form = nullptr;
  int MenuHeight = 0;
  // Destroyed after the window, whose text displays use them.
  std::vector<std::unique_ptr<Fl_Text_Buffer>> Buffers;
  std::vector<std::unique_ptr<std::function<void()>>> MenuActions;
  std::unique_ptr<TFormWindow> Window;
  std::vector<std::pair<TControl*, Fl_Widget*>> Widgets;

  Fl_Widget* WidgetOf(const TControl* Control) const {
    for (const auto& [c, w] : Widgets)
      if (c == Control) return w;
    return nullptr;
  }
};

struct TFltkBackend::TDialog {
  std::unique_ptr<Fl_Double_Window> Window;
  bool Done = false;
  TModalResult Result = mrNone;
};

TFltkBackend::TFltkBackend() : FWatch(std::make_unique<TWidgetWatch>(*this)) {
  GBackend = this;
}

TFltkBackend::~TFltkBackend() {
  for (auto& shown : FForms) {
    for (auto& [c, w] : shown->Widgets) c->RemoveFreeNotification(FWatch.get());
    shown->Form->RemoveFreeNotification(FWatch.get());
  }
  FForms.clear();
  if (FFd >= 0) plat::reactor::Remove(FFd);
  if (FWindow) plat::DestroyWindow(FWindow);
  if (GBackend == this) GBackend = nullptr;
}

bool TFltkBackend::Open() {
  if (FOpened) return true;
  if (!fl_display) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == 0) return false;
    // FLTK's own opening ends the program when the display refuses.
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return false;
    fl_open_display(d);
    Fl::scheme("gtk+");
  }
  FWindow = CreateHiddenWindow("TFltkBackendWindow", &BackendWndProc, this);
  if (!FWindow) return false;
  FFd = ConnectionNumber(fl_display);
  if (!plat::reactor::Watch(FFd, EPOLLIN, [this](std::uint32_t) { RequestPump(); })) {
    FFd = -1;
    plat::DestroyWindow(FWindow);
    FWindow = 0;
    return false;
  }
  FOpened = true;
  return true;
}

void TFltkBackend::RequestPump() {
  if (FPumpQueued || !FWindow) return;
  FPumpQueued = plat::PostMessageA(FWindow, CM_PUMP, 0, 0);
}

void TFltkBackend::UpdateTimer() {
  const bool want = FWindow && (!FForms.empty() || FDialogs > 0);
  if (want == FTimerOn) return;
  FTimerOn = want;
  if (want)
    plat::SetTimer(FWindow, PumpTimer, PumpTimerMs, nullptr);
  else
    plat::KillTimer(FWindow, PumpTimer);
}

void TFltkBackend::Pump() {
  FPumpQueued = false;
  if (FInFltk || !FOpened) return;
  FInFltk = true;
  Fl::check();
  FInFltk = false;
  // The innermost modal window goes above the windows it blocks once it is up, whatever
  // was raised meanwhile (there may be no window manager to keep it there).
  if (FRaiseDue && !FModal.empty() && FModal.back()->shown()) {
    FRaiseDue = false;
    XRaiseWindow(fl_display, fl_xid(FModal.back()));
    XFlush(fl_display);
  }
  while (!FActions.empty()) {
    std::function<void()> action = std::move(FActions.front());
    FActions.pop_front();
    try {
      action();
    } catch (...) {
      // The error goes to the loop's handler; the actions behind it still run.
      if (!FActions.empty()) RequestPump();
      throw;
    }
  }
}

void TFltkBackend::Defer(std::function<void()> Action) {
  FActions.push_back(std::move(Action));
  RequestPump();
}

void TFltkBackend::SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands) {
  for (auto& m : FMenus)
    if (m.Form == &Form) {
      m.Commands = std::move(Commands);
      return;
    }
  FMenus.push_back({&Form, std::move(Commands)});
  Form.FreeNotification(FWatch.get());
}

bool TFltkBackend::Shows(const TCustomForm* Form) {
  return Find(Form) != nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::Find(const TCustomForm* Form) {
  for (auto& s : FForms)
    if (s->Form == Form) return s.get();
  return nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::FindOwner(const TControl* Control) {
  for (auto& s : FForms)
    if (s->WidgetOf(Control)) return s.get();
  return nullptr;
}

// ---- forms ----

void TFltkBackend::FormShown(TCustomForm& Form) {
  if (!FOpened) return;
  if (TShownForm* old = Find(&Form)) FormHidden(*old->Form);
  auto shown = std::make_unique<TShownForm>();
  shown->Form = &Form;
  Form.FreeNotification(FWatch.get());
  TShownForm& s = *shown;
  FForms.push_back(std::move(shown));
  Build(s);
  UpdateTimer();
  RequestPump();
}

// Only the innermost modal window is modal to FLTK: with several, FLTK would take the one
// last clicked for the modal one and raise it over the windows nested in it.
void TFltkBackend::PushModal(Fl_Window& Win) {
  if (!FModal.empty()) FModal.back()->clear_modal_states();
  Win.set_modal();
  FModal.push_back(&Win);
  FRaiseDue = true;
  // FLTK keeps the window that takes the clicks apart from the flags: it must follow.
  Fl::modal_ = &Win;
}

void TFltkBackend::PopModal(Fl_Window* Win) {
  if (Win == nullptr) return;
  const auto it = std::find(FModal.begin(), FModal.end(), Win);
  if (it == FModal.end()) return;
  const bool wasTop = it + 1 == FModal.end();
  FModal.erase(it);
  Win->clear_modal_states();
  if (wasTop && !FModal.empty()) FModal.back()->set_modal();
  FRaiseDue = wasTop && !FModal.empty();
  if (Fl::modal_ == Win) Fl::modal_ = FModal.empty() ? nullptr : FModal.back();
}

void TFltkBackend::FormHidden(TCustomForm& Form) {
  for (auto it = FForms.begin(); it != FForms.end(); ++it) {
    if ((*it)->Form != &Form) continue;
    std::unique_ptr<TShownForm> gone = std::move(*it);
    FForms.erase(it);
    for (auto& [c, w] : gone->Widgets) c->RemoveFreeNotification(FWatch.get());
    PopModal(gone->Window.get());
    if (gone->Window) gone->Window->hide();
    gone.reset();
    break;
  }
  UpdateTimer();
  RequestPump();
}

void TFltkBackend::ComponentDestroyed(TComponent* Component) {
  std::erase_if(FMenus, [Component](const TMenu& M) { return M.Form == Component; });
  for (auto it = FForms.begin(); it != FForms.end(); ++it) {
    TShownForm& s = **it;
    if (s.Form == Component) {
      for (auto& [c, w] : s.Widgets)
        if (c != Component) c->RemoveFreeNotification(FWatch.get());
      PopModal(s.Window.get());
      FForms.erase(it);
      UpdateTimer();
      return;
    }
    for (auto w = s.Widgets.begin(); w != s.Widgets.end(); ++w) {
      if (w->first != Component) continue;
      if (FPainting == Component) FPainting = nullptr;
      Fl_Widget* widget = w->second;
      s.Widgets.erase(w);
      if (widget->parent()) widget->parent()->remove(widget);
      delete widget;
      s.Window->redraw();
      return;
    }
  }
}

void TFltkBackend::Build(TShownForm& S) {
  TCustomForm& form = *S.Form;
  std::vector<TMenuCommand>* menu = nullptr;
  for (auto& m : FMenus)
    if (m.Form == &form) menu = &m.Commands;
  S.MenuHeight = menu ? MenuBarHeight : 0;
  const int w = std::max(1, form.ClientWidth());
  const int h = std::max(1, form.ClientHeight()) + S.MenuHeight;
  S.Window = std::make_unique<TFormWindow>(form.Left(), form.Top(), w, h);
  Fl_Double_Window& win = *S.Window;
  win.copy_label(form.Caption().c_str());
  win.user_data(&form);
  if (menu) {
    auto* bar = new Fl_Menu_Bar(0, 0, w, MenuBarHeight);
    for (const TMenuCommand& command : *menu) {
      S.MenuActions.push_back(std::make_unique<std::function<void()>>(command.OnClick));
      bar->add(
          command.Path.c_str(), 0,
          [](Fl_Widget*, void* Data) {
            const auto action = *static_cast<std::function<void()>*>(Data);
            if (GBackend && action) GBackend->Defer(action);
          },
          S.MenuActions.back().get());
    }
  }
  win.end();
  for (int i = 0; i < form.ControlCount(); ++i) Update(S, *form.Controls(i));
  win.callback([](Fl_Widget* Widget, void* Data) {
    auto* f = static_cast<TCustomForm*>(Data);
    const bool escape = Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape;
    (void)Widget;
    if (!GBackend) return;
    GBackend->Defer([f, escape] {
      if (!GBackend || !GBackend->Shows(f)) return;
      if (TButton* cancel = CancelButtonOf(*f)) {
        cancel->Click();
      } else if (!escape && f->BorderIcons().Contains(biSystemMenu)) {
        f->Close();
      }
    });
  });
  switch (form.BorderStyle()) {
    case bsSizeable:
    case bsSizeToolWin:
      win.resizable(&win);
      win.size_range(std::min(w, 100), std::min(h, 50));
      break;
    case bsNone:
      win.border(0);
      [[fallthrough]];
    default:
      win.size_range(w, h, w, h);
  }
  if (form.Modal()) PushModal(win);
  win.show();
  SetWindowHints(win, form);
  ApplyCursor(S);
  // Custom controls paint from the message loop once their widget exists.
  for (auto& [c, widget] : S.Widgets)
    if (dynamic_cast<TCanvasWidget*>(widget)) c->Invalidate();
}

void TFltkBackend::Update(TShownForm& S, TControl& C) {
  Fl_Widget* w = S.WidgetOf(&C);
  const int x = C.Left(), y = C.Top() + S.MenuHeight;
  const int wd = std::max(1, C.Width()), ht = std::max(1, C.Height());
  const TFlFont face = ToFlFont(C.Font());
  const bool created = w == nullptr;
  if (created) {
    S.Window->begin();
    if (dynamic_cast<TLabel*>(&C)) {
      w = new Fl_Box(FL_NO_BOX, x, y, wd, ht, nullptr);
    } else if (auto* b = dynamic_cast<TButton*>(&C)) {
      w = b->Default() ? new Fl_Return_Button(x, y, wd, ht) : new Fl_Button(x, y, wd, ht);
      w->callback([](Fl_Widget* Widget, void*) {
        auto* control = static_cast<TButton*>(Widget->user_data());
        if (!GBackend) return;
        GBackend->Defer([control] {
          if (GBackend && GBackend->FindOwner(control)) control->Click();
        });
      });
    } else if (dynamic_cast<TProgressBar*>(&C)) {
      auto* p = new Fl_Progress(x, y, wd, ht);
      p->color(FL_BACKGROUND2_COLOR);
      p->selection_color(ToFlColor(clHighlight));
      w = p;
    } else if (auto* m = dynamic_cast<TMemo*>(&C)) {
      S.Buffers.push_back(std::make_unique<Fl_Text_Buffer>());
      Fl_Text_Display* d =
          m->ReadOnly() ? new Fl_Text_Display(x, y, wd, ht) : new Fl_Text_Editor(x, y, wd, ht);
      d->buffer(S.Buffers.back().get());
      d->scrollbar_align(FL_ALIGN_BOTTOM_RIGHT);
      if (m->WordWrap()) d->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
      w = d;
    } else if (dynamic_cast<TCustomControl*>(&C)) {
      w = new TCanvasWidget(x, y, wd, ht);
    }
    S.Window->end();
    if (w == nullptr) return;
    w->user_data(&C);
    S.Widgets.emplace_back(&C, w);
    C.FreeNotification(FWatch.get());
  } else if (w->x() != x || w->y() != y || w->w() != wd || w->h() != ht) {
    S.Window->damage(FL_DAMAGE_ALL, w->x(), w->y(), w->w(), w->h());
    w->resize(x, y, wd, ht);
  }
  w->labelfont(face.Face);
  w->labelsize(face.Size);
  w->labelcolor(face.Color);
  if (auto* l = dynamic_cast<TLabel*>(&C)) {
    Fl_Align align = FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP | FL_ALIGN_CLIP;
    align |= l->Alignment() == taCenter         ? FL_ALIGN_CENTER
             : l->Alignment() == taRightJustify ? FL_ALIGN_RIGHT
                                                : FL_ALIGN_LEFT;
    w->align(align);
    w->copy_label(FlText(C.Caption(), true).c_str());
  } else if (dynamic_cast<TButton*>(&C)) {
    w->copy_label(FlText(C.Caption(), true).c_str());
  } else if (auto* p = dynamic_cast<TProgressBar*>(&C)) {
    auto* bar = static_cast<Fl_Progress*>(w);
    bar->minimum(static_cast<float>(p->Min()));
    bar->maximum(static_cast<float>(std::max(p->Max(), p->Min() + 1)));
    bar->value(static_cast<float>(p->Position()));
  } else if (auto* m = dynamic_cast<TMemo*>(&C)) {
    auto* d = static_cast<Fl_Text_Display*>(w);
    d->textfont(face.Face);
    d->textsize(face.Size);
    const std::string text = JoinLines([m] {
      std::vector<std::string> lines;
      for (int i = 0; i < m->Lines()->Count(); ++i) lines.push_back(m->Lines()->Strings(i));
      return lines;
    }());
    const char* old = d->buffer()->text();
    if (text != old) d->buffer()->text(text.c_str());
    std::free(const_cast<char*>(old));
  }
  if (C.Visible())
    w->show();
  else
    w->hide();
  // A label has no background of its own: what was under its old text must go too.
  S.Window->damage(FL_DAMAGE_ALL, w->x(), w->y(), w->w(), w->h());
  w->redraw();
  if (created && S.Window->shown() && dynamic_cast<TCanvasWidget*>(w)) C.Invalidate();
}

void TFltkBackend::ControlChanged(TControl& Control) {
  if (auto* form = dynamic_cast<TCustomForm*>(&Control)) {
    if (TShownForm* s = Find(form)) {
      s->Window->copy_label(form->Caption().c_str());
      const int w = std::max(1, form->ClientWidth());
      const int h = std::max(1, form->ClientHeight()) + s->MenuHeight;
      if (s->Window->w() != w || s->Window->h() != h) {
        if (form->BorderStyle() != bsSizeable && form->BorderStyle() != bsSizeToolWin)
          s->Window->size_range(w, h, w, h);
        s->Window->size(w, h);
      }
      ApplyCursor(*s);
      RequestPump();
    }
    return;
  }
  TShownForm* s = FindOwner(&Control);
  if (s == nullptr) {
    // A control placed on a showing form after it came into view.
    if (auto* parent = dynamic_cast<TCustomForm*>(Control.Parent())) s = Find(parent);
  }
  if (s == nullptr) return;
  Update(*s, Control);
  RequestPump();
}

void TFltkBackend::ModalPass(TCustomForm&) {
  // Events that Xlib already read off the connection leave nothing for the reactor to see.
  if (FOpened && !FInFltk && (XQLength(fl_display) > 0 || Fl::damage())) RequestPump();
}

void TFltkBackend::ApplyCursor(TShownForm& S) {
  if (!S.Window->shown()) return;
  const int c = FScreenCursor != crDefault ? FScreenCursor : S.Form->Cursor();
  S.Window->cursor(c == crHourGlass ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
}

void TFltkBackend::ScreenCursorChanged(int NewCursor) {
  FScreenCursor = NewCursor;
  for (auto& s : FForms) ApplyCursor(*s);
  RequestPump();
}

int TFltkBackend::ScreenWidth() {
  return FOpened ? Fl::w() : 1024;
}

int TFltkBackend::ScreenHeight() {
  return FOpened ? Fl::h() : 768;
}

// ---- canvas ----

void TFltkBackend::BeginPaint(TControl& Control) {
  FPainting = nullptr;
  TShownForm* s = FindOwner(&Control);
  if (s == nullptr) return;
  if (auto* w = dynamic_cast<TCanvasWidget*>(s->WidgetOf(&Control))) {
    FPainting = &Control;
    w->Ops.clear();
  }
}

void TFltkBackend::EndPaint(TControl& Control) {
  if (FPainting != &Control) return;
  FPainting = nullptr;
  if (TShownForm* s = FindOwner(&Control)) {
    s->WidgetOf(&Control)->redraw();
    RequestPump();
  }
}

void TFltkBackend::Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Rect;
  op.X1 = X1, op.Y1 = Y1, op.X2 = X2, op.Y2 = Y2;
  op.Pen = ToFlColor(Canvas.Pen()->Color());
  op.PenWidth = std::max(1, Canvas.Pen()->Width());
  op.Brush = ToFlColor(Canvas.Brush()->Color());
  w->Ops.push_back(std::move(op));
}

void TFltkBackend::FillRect(TCanvas& Canvas, const TRect& Rect) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Fill;
  op.X1 = Rect.Left, op.Y1 = Rect.Top, op.X2 = Rect.Right, op.Y2 = Rect.Bottom;
  op.Brush = ToFlColor(Canvas.Brush()->Color());
  w->Ops.push_back(std::move(op));
}

void TFltkBackend::TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Text;
  op.X1 = X, op.Y1 = Y;
  op.Font = ToFlFont(Canvas.Font());
  op.Str = Text;
  w->Ops.push_back(std::move(op));
}

// ---- boxes and dialogs ----

void TFltkBackend::Beep(plat::UINT Type) {
  if (!FOpened) return;
  fl_beep(Type == 0x10 ? FL_BEEP_ERROR : Type == 0x20 ? FL_BEEP_QUESTION : FL_BEEP_DEFAULT);
}

void TFltkBackend::ShowMessage(const std::string& Title, const std::string& Text) {
  TMessageBoxRequest r;
  r.Caption = Title;
  r.Text = Text;
  r.Icon = miError;
  (void)MessageBox(r);
}

void TFltkBackend::RunDialog(TDialog& D) {
  ++FDialogs;
  UpdateTimer();
  Fl_Double_Window& w = *D.Window;
  w.position((Fl::w() - w.w()) / 2, (Fl::h() - w.h()) / 2);
  w.size_range(w.w(), w.h(), w.w(), w.h());
  PushModal(w);
  w.show();
  {
    TMessagePump msgPump(*Application, {.HandleErrors = true});
    while (!D.Done && !Application->Terminated() && !msgPump.Ended()) {
      Pump();
      if (D.Done) break;
      if (XQLength(fl_display) > 0) continue;
      msgPump.PumpOne(true);
    }
  }
  PopModal(&w);
  w.hide();
  --FDialogs;
  UpdateTimer();
  RequestPump();
}

namespace {

// The round picture beside a box's text.
Fl_Box* MakeIcon(TMessageIcon Icon, int X, int Y) {
  const char* letter = "i";
  Fl_Color back = fl_rgb_color(0x33, 0x66, 0xCC), fore = FL_WHITE;
  switch (Icon) {
    case miError:
      letter = "X", back = fl_rgb_color(0xCC, 0x22, 0x22);
      break;
    case miQuestion:
      letter = "?";
      break;
    case miExclamation:
      letter = "!", back = fl_rgb_color(0xF0, 0xC0, 0x20), fore = FL_BLACK;
      break;
    default:
      break;
  }
  auto* b = new Fl_Box(FL_OVAL_BOX, X, Y, 40, 40, letter);
  b->color(back);
  b->labelcolor(fore);
  b->labelfont(FL_HELVETICA_BOLD);
  b->labelsize(26);
  return b;
}

}  // namespace

TModalResult TFltkBackend::MessageBox(const TMessageBoxRequest& Request) {
  const TModalResult fallback =
      Request.EscapeResult != mrNone
          ? Request.EscapeResult
          : Request.Buttons.at(static_cast<size_t>(std::clamp<int>(
                Request.DefaultButton, 0, static_cast<int>(Request.Buttons.size()) - 1)));
  if (!FOpened || !Application) return fallback;
  const std::string text = FlText(JoinLines(MessageLines(Request.Text)), false);
  fl_font(FL_HELVETICA, 14);
  int textW = 0, textH = 0;
  fl_measure(text.c_str(), textW, textH, 0);
  const int maxText = std::max(300, Fl::w() * 2 / 3);
  if (textW > maxText) {
    textW = maxText;
    fl_measure(text.c_str(), textW, textH, 0);
  }
  // Room for rounding, or the longest line would wrap once more when drawn.
  textW += 8;
  const int iconW = Request.Icon != miNone ? 56 : 0;
  const int buttonW = 90, buttonH = 28, gap = 10, margin = 20;
  const int n = static_cast<int>(Request.Buttons.size());
  const int buttonsW = n * buttonW + (n - 1) * gap;
  const int w = std::max({iconW + textW + 2 * margin, buttonsW + 2 * margin, 240});
  const int body = std::max(textH, iconW ? 40 : 0);
  const int h = margin + body + margin + buttonH + margin;

  TDialog d;
  d.Window = std::make_unique<Fl_Double_Window>(w, h);
  d.Window->copy_label(Request.Caption.c_str());
  if (iconW) MakeIcon(Request.Icon, margin, margin);
  auto* label = new Fl_Box(FL_NO_BOX, margin + iconW, margin, textW, body, nullptr);
  label->copy_label(text.c_str());
  label->labelsize(14);
  label->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
  struct TPress {
    TDialog* Dialog;
    TModalResult Result;
  };
  std::vector<TPress> presses(Request.Buttons.size());
  int x = (w - buttonsW) / 2;
  for (int i = 0; i < n; ++i, x += buttonW + gap) {
    const bool isDefault = i == Request.DefaultButton;
    Fl_Button* b = isDefault ? new Fl_Return_Button(x, h - margin - buttonH, buttonW, buttonH)
                             : new Fl_Button(x, h - margin - buttonH, buttonW, buttonH);
    b->copy_label(MessageButtonCaption(Request.Buttons[static_cast<size_t>(i)]).c_str());
    presses[static_cast<size_t>(i)] = {&d, Request.Buttons[static_cast<size_t>(i)]};
    b->callback(
        [](Fl_Widget*, void* Data) {
          auto* p = static_cast<TPress*>(Data);
          p->Dialog->Result = p->Result;
          p->Dialog->Done = true;
        },
        &presses[static_cast<size_t>(i)]);
  }
  d.Window->end();
  TPress escape{&d, Request.EscapeResult};
  d.Window->callback(
      [](Fl_Widget*, void* Data) {
        auto* p = static_cast<TPress*>(Data);
        if (p->Result == mrNone) return;
        p->Dialog->Result = p->Result;
        p->Dialog->Done = true;
      },
      &escape);
  RunDialog(d);
  return d.Done ? d.Result : fallback;
}

namespace {

// "*.EXE;*.TXT" as FLTK's pattern, in either letter case; "*.*" matches every name, with a dot or
// not.
std::string FlPattern(const std::string& Mask) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= Mask.size()) {
    size_t end = Mask.find(';', start);
    if (end == std::string::npos) end = Mask.size();
    std::string p = Mask.substr(start, end - start);
    p.erase(0, p.find_first_not_of(' '));
    while (!p.empty() && p.back() == ' ') p.pop_back();
    if (p == "*.*" || p == "*") return "*";
    // Masks come from systems where letter case does not count ("*.EXE").
    for (const std::string& variant : {p, Lower(p), Upper(p)})
      if (!variant.empty() && std::find(parts.begin(), parts.end(), variant) == parts.end())
        parts.push_back(variant);
    start = end + 1;
  }
  if (parts.empty()) return "*";
  if (parts.size() == 1) return parts[0];
  std::string out = "{";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "," : "") + parts[i];
  return out + "}";
}

bool IsDir(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}

struct TSaveState {
  TFltkBackend::TDialog* Dialog = nullptr;
  Fl_Input* Folder = nullptr;
  Fl_File_Browser* Browser = nullptr;
  Fl_Input* Name = nullptr;
  Fl_Choice* Types = nullptr;
  const TSaveDialogRequest* Request = nullptr;
  std::string Dir;

  void Load() {
    std::string d = Dir;
    if (d.empty() || d.back() != '/') d += '/';
    Folder->value(Dir.c_str());
    const int index = std::max(0, Types->value());
    const auto& filters = Request->Filters;
    const std::string pattern =
        static_cast<size_t>(index) < filters.size() ? FlPattern(filters[index].second) : "*";
    Browser->filter(pattern.c_str());
    Browser->load(d.c_str());
    // The entry for the folder itself is of no use here.
    for (int i = Browser->size(); i >= 1; --i)
      if (std::strcmp(Browser->text(i), "./") == 0) Browser->remove(i);
  }
  void Enter(const std::string& Sub) {
    if (Sub == "../") {
      const size_t slash = Dir.find_last_of('/');
      Dir = slash == 0 || slash == std::string::npos ? "/" : Dir.substr(0, slash);
    } else {
      Dir = (Dir == "/" ? "/" : Dir + "/") + Sub.substr(0, Sub.size() - 1);
    }
    Load();
  }
};

}  // namespace

bool TFltkBackend::SaveDialog(TSaveDialogRequest& Request) {
  if (!FOpened || !Application) return false;
  TDialog d;
  TSaveState st;
  st.Dialog = &d;
  st.Request = &Request;
  st.Dir = Request.InitialDir.empty() ? CurrentDir() : Request.InitialDir;
  while (st.Dir.size() > 1 && st.Dir.back() == '/') st.Dir.pop_back();
  std::string proposed = Request.FileName;
  if (const size_t slash = proposed.find_last_of('/'); slash != std::string::npos) {
    if (Request.InitialDir.empty() && slash > 0) st.Dir = proposed.substr(0, slash);
    proposed = proposed.substr(slash + 1);
  }

  const int w = 520, h = 372;
  d.Window = std::make_unique<Fl_Double_Window>(w, h);
  d.Window->copy_label(Request.Title.empty() ? "Save As" : Request.Title.c_str());
  st.Folder = new Fl_Input(100, 12, 400, 26, "Save &in:");
  st.Folder->when(FL_WHEN_ENTER_KEY_ALWAYS);
  st.Browser = new Fl_File_Browser(20, 48, 480, 230);
  st.Browser->type(FL_HOLD_BROWSER);
  st.Name = new Fl_Input(110, 292, 280, 26, "File &name:");
  st.Name->value(proposed.c_str());
  st.Types = new Fl_Choice(110, 330, 280, 26, "Save as &type:");
  for (const auto& filter : Request.Filters) {
    // Menu item texts treat '/' as a submenu and '&' as an access key.
    std::string item = FlText(filter.first, false);
    std::string safe;
    for (char c : item) {
      if (c == '/') safe += '\\';
      safe += c;
    }
    st.Types->add(safe.c_str());
  }
  if (Request.Filters.empty()) st.Types->add("All files");
  st.Types->value(std::clamp(Request.FilterIndex - 1, 0, std::max(0, st.Types->size() - 2)));
  auto* save = new Fl_Return_Button(410, 292, 90, 26, "&Save");
  auto* cancel = new Fl_Button(410, 330, 90, 26, "Cancel");
  d.Window->end();

  st.Folder->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        const std::string typed = s->Folder->value();
        if (IsDir(typed)) s->Dir = typed;
        s->Load();
      },
      &st);
  st.Browser->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        const int line = s->Browser->value();
        if (line <= 0) return;
        const std::string item = s->Browser->text(line);
        if (!item.empty() && item.back() == '/') {
          if (Fl::event_clicks()) s->Enter(item);
        } else {
          s->Name->value(item.c_str());
        }
      },
      &st);
  st.Types->callback([](Fl_Widget*, void* Data) { static_cast<TSaveState*>(Data)->Load(); }, &st);
  save->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        std::string name = s->Name->value();
        if (name.empty()) return;
        const std::string full = name[0] == '/' ? name : s->Dir + (s->Dir == "/" ? "" : "/") + name;
        if (IsDir(full)) {
          s->Dir = full;
          s->Name->value("");
          s->Load();
          return;
        }
        s->Dialog->Result = mrOk;
        s->Dialog->Done = true;
      },
      &st);
  auto cancelCb = [](Fl_Widget*, void* Data) {
    auto* s = static_cast<TSaveState*>(Data);
    s->Dialog->Result = mrCancel;
    s->Dialog->Done = true;
  };
  cancel->callback(cancelCb, &st);
  d.Window->callback(cancelCb, &st);
  st.Load();
  st.Name->take_focus();
  RunDialog(d);
  if (!d.Done || d.Result != mrOk) return false;
  const std::string name = st.Name->value();
  Request.FileName = name[0] == '/' ? name : st.Dir + (st.Dir == "/" ? "" : "/") + name;
  Request.FilterIndex = st.Types->value() + 1;
  return true;
}

#if defined(__SANITIZE_ADDRESS__)
// The font and display caches of the system's libraries live until the process ends and
// are theirs to keep; the display connection itself stays open to the end on purpose.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}
#endif
