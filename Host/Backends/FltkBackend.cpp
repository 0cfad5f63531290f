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
  const auto C = static_cast<std::uint32_t>(Color);
  return fl_rgb_color(static_cast<uchar>(C & 0xFF), static_cast<uchar>((C >> 8) & 0xFF),
                      static_cast<uchar>((C >> 16) & 0xFF));
}

struct TFlFont {
  Fl_Font Face = FL_HELVETICA;
  int Size = 12;
  Fl_Color Color = FL_FOREGROUND_COLOR;
};

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

std::string Upper(std::string S) {
  for (char& C : S) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return S;
}

TFlFont ToFlFont(const TFont* Font) {
  TFlFont F;
  if (Font == nullptr) return F;
  const std::string Name = Lower(Font->Name());
  Fl_Font Base = FL_HELVETICA;
  if (Font->Pitch() == fpFixed || Name.find("courier") != std::string::npos ||
      Name.find("mono") != std::string::npos)
    Base = FL_COURIER;
  else if (Name.find("times") != std::string::npos ||
           (Name.find("serif") != std::string::npos && Name.find("sans") == std::string::npos))
    Base = FL_TIMES;
  if (Font->Style().Contains(fsBold)) Base += FL_BOLD;
  if (Font->Style().Contains(fsItalic)) Base += FL_ITALIC;
  F.Face = Base;
  // Height is the character height in pixels (negative: without the internal leading).
  const int Px = std::abs(Font->Height());
  F.Size = Px > 0 ? Px + 1 : 12;
  F.Color = ToFlColor(Font->Color());
  if (F.Color == FL_BACKGROUND_COLOR) F.Color = FL_FOREGROUND_COLOR;
  return F;
}

// FLTK reads "@" as the start of a symbol; "&" stays an access key only where wanted.
std::string FlText(const std::string& Text, bool AccessKeys) {
  std::string Out;
  Out.reserve(Text.size());
  for (char C : Text) {
    if (C == '@') Out += '@';
    if (C == '&' && !AccessKeys) Out += '&';
    if (C == '\r') continue;
    Out += C;
  }
  return Out;
}

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string Out;
  for (size_t I = 0; I < Lines.size(); ++I) {
    if (I) Out += '\n';
    Out += Lines[I];
  }
  return Out;
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
    for (const TDrawOp& Op : Ops) {
      const int X1 = x() + Op.X1, Y1 = y() + Op.Y1;
      switch (Op.Kind) {
        case TDrawOp::Rect:
          // The right and bottom edges lie outside, as with the fill.
          fl_rectf(X1, Y1, Op.X2 - Op.X1, Op.Y2 - Op.Y1, Op.Brush);
          fl_color(Op.Pen);
          fl_line_style(FL_SOLID, Op.PenWidth);
          fl_rect(X1, Y1, Op.X2 - Op.X1, Op.Y2 - Op.Y1);
          fl_line_style(0);
          break;
        case TDrawOp::Fill:
          fl_rectf(X1, Y1, Op.X2 - Op.X1, Op.Y2 - Op.Y1, Op.Brush);
          break;
        case TDrawOp::Text:
          fl_font(Op.Font.Face, Op.Font.Size);
          fl_color(Op.Font.Color);
          fl_draw(Op.Str.c_str(), X1, Y1 + fl_height() - fl_descent());
          break;
      }
    }
    fl_pop_clip();
  }
};

std::string StripAccessKey(const std::string& Caption) {
  std::string Out;
  for (size_t I = 0; I < Caption.size(); ++I) {
    if (Caption[I] == '&' && I + 1 < Caption.size()) ++I;
    Out += Caption[I];
  }
  return Out;
}

std::vector<TButton*> ButtonsOf(const TCustomForm& Form) {
  std::vector<TButton*> Buttons;
  for (int I = 0; I < Form.ControlCount(); ++I)
    if (auto* B = dynamic_cast<TButton*>(Form.Controls(I)); B && B->Visible()) Buttons.push_back(B);
  return Buttons;
}

// What Escape presses: the form's Cancel button, else one captioned Cancel, else its only
// button (as on the terminal).
TButton* CancelButtonOf(const TCustomForm& Form) {
  if (TButton* B = Form.CancelButton()) return B;
  const std::vector<TButton*> Buttons = ButtonsOf(Form);
  for (TButton* B : Buttons)
    if (StripAccessKey(B->Caption()) == "Cancel") return B;
  return Buttons.size() == 1 ? Buttons[0] : nullptr;
}

// What Enter presses: the Default button, else the first one.
TButton* DefaultButtonOf(const TCustomForm& Form) {
  if (TButton* B = Form.DefaultButton()) return B;
  const std::vector<TButton*> Buttons = ButtonsOf(Form);
  return Buttons.empty() ? nullptr : Buttons[0];
}

// A form's window: Enter that no control took presses the default button; the close box
// and Escape go to the window's callback.
class TFormWindow : public Fl_Double_Window {
 public:
  TFormWindow(int X, int Y, int W, int H) : Fl_Double_Window(X, Y, W, H) {}

  int handle(int Event) override {
    if (Fl_Double_Window::handle(Event)) return 1;
    const bool Enter = Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
    if (Event != FL_SHORTCUT || !Enter || !GBackend) return 0;
    auto* Form = static_cast<TCustomForm*>(user_data());
    GBackend->Defer([Form] {
      if (!GBackend || !GBackend->Shows(Form)) return;
      if (TButton* B = DefaultButtonOf(*Form)) B->Click();
    });
    return 1;
  }
};

// Asks the window manager for the border icons the form has: without the system menu the
// close box goes, and with it closing by the window manager.
void SetWindowHints(Fl_Window& W, const TCustomForm& Form) {
  const Window X = fl_xid(&W);
  if (!X) return;
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
  const TBorderIcons Icons = Form.BorderIcons();
  const bool Sizeable = Form.BorderStyle() == bsSizeable || Form.BorderStyle() == bsSizeToolWin;
  unsigned long Funcs = FuncMove, Decos = DecoBorder | DecoTitle;
  if (Sizeable) Funcs |= FuncResize, Decos |= DecoResizeH;
  if (Icons.Contains(biSystemMenu)) Funcs |= FuncClose, Decos |= DecoMenu;
  const bool Dialog = Form.BorderStyle() == bsDialog;
  if (Icons.Contains(biMinimize) && !Dialog) Funcs |= FuncMinimize, Decos |= DecoMinimize;
  if (Icons.Contains(biMaximize) && !Dialog && Sizeable)
    Funcs |= FuncMaximize, Decos |= DecoMaximize;
  long Hints[5] = {3, static_cast<long>(Funcs), static_cast<long>(Decos), 0, 0};
  const Atom Motif = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, X, Motif, Motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(Hints), 5);
}

plat::LRESULT BackendWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                             plat::LPARAM lParam) {
  if (msg == CM_PUMP || (msg == plat::WM_TIMER && wParam == PumpTimer)) {
    if (auto* Self = reinterpret_cast<TFltkBackend*>(plat::GetWindowLongA(hwnd, 0))) Self->Pump();
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
    for (const auto& [C, W] : Widgets)
      if (C == Control) return W;
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
  for (auto& Shown : FForms) {
    for (auto& [C, W] : Shown->Widgets) C->RemoveFreeNotification(FWatch.get());
    Shown->Form->RemoveFreeNotification(FWatch.get());
  }
  FForms.clear();
  if (FFd >= 0) plat::reactor::Remove(FFd);
  if (FWindow) plat::DestroyWindow(FWindow);
  if (GBackend == this) GBackend = nullptr;
}

bool TFltkBackend::Open() {
  if (FOpened) return true;
  if (!fl_display) {
    const char* Name = std::getenv("DISPLAY");
    if (Name == nullptr || *Name == 0) return false;
    // FLTK's own opening ends the program when the display refuses.
    Display* D = XOpenDisplay(nullptr);
    if (D == nullptr) return false;
    fl_open_display(D);
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
  const bool Want = FWindow && (!FForms.empty() || FDialogs > 0);
  if (Want == FTimerOn) return;
  FTimerOn = Want;
  if (Want)
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
    std::function<void()> Action = std::move(FActions.front());
    FActions.pop_front();
    try {
      Action();
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
  for (auto& M : FMenus)
    if (M.Form == &Form) {
      M.Commands = std::move(Commands);
      return;
    }
  FMenus.push_back({&Form, std::move(Commands)});
  Form.FreeNotification(FWatch.get());
}

bool TFltkBackend::Shows(const TCustomForm* Form) {
  return Find(Form) != nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::Find(const TCustomForm* Form) {
  for (auto& S : FForms)
    if (S->Form == Form) return S.get();
  return nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::FindOwner(const TControl* Control) {
  for (auto& S : FForms)
    if (S->WidgetOf(Control)) return S.get();
  return nullptr;
}

// ---- forms ----

void TFltkBackend::FormShown(TCustomForm& Form) {
  if (!FOpened) return;
  if (TShownForm* Old = Find(&Form)) FormHidden(*Old->Form);
  auto Shown = std::make_unique<TShownForm>();
  Shown->Form = &Form;
  Form.FreeNotification(FWatch.get());
  TShownForm& S = *Shown;
  FForms.push_back(std::move(Shown));
  Build(S);
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
  const auto It = std::find(FModal.begin(), FModal.end(), Win);
  if (It == FModal.end()) return;
  const bool WasTop = It + 1 == FModal.end();
  FModal.erase(It);
  Win->clear_modal_states();
  if (WasTop && !FModal.empty()) FModal.back()->set_modal();
  FRaiseDue = WasTop && !FModal.empty();
  if (Fl::modal_ == Win) Fl::modal_ = FModal.empty() ? nullptr : FModal.back();
}

void TFltkBackend::FormHidden(TCustomForm& Form) {
  for (auto It = FForms.begin(); It != FForms.end(); ++It) {
    if ((*It)->Form != &Form) continue;
    std::unique_ptr<TShownForm> Gone = std::move(*It);
    FForms.erase(It);
    for (auto& [C, W] : Gone->Widgets) C->RemoveFreeNotification(FWatch.get());
    PopModal(Gone->Window.get());
    if (Gone->Window) Gone->Window->hide();
    Gone.reset();
    break;
  }
  UpdateTimer();
  RequestPump();
}

void TFltkBackend::ComponentDestroyed(TComponent* Component) {
  std::erase_if(FMenus, [Component](const TMenu& M) { return M.Form == Component; });
  for (auto It = FForms.begin(); It != FForms.end(); ++It) {
    TShownForm& S = **It;
    if (S.Form == Component) {
      for (auto& [C, W] : S.Widgets)
        if (C != Component) C->RemoveFreeNotification(FWatch.get());
      PopModal(S.Window.get());
      FForms.erase(It);
      UpdateTimer();
      return;
    }
    for (auto W = S.Widgets.begin(); W != S.Widgets.end(); ++W) {
      if (W->first != Component) continue;
      if (FPainting == Component) FPainting = nullptr;
      Fl_Widget* Widget = W->second;
      S.Widgets.erase(W);
      if (Widget->parent()) Widget->parent()->remove(Widget);
      delete Widget;
      S.Window->redraw();
      return;
    }
  }
}

void TFltkBackend::Build(TShownForm& S) {
  TCustomForm& Form = *S.Form;
  std::vector<TMenuCommand>* Menu = nullptr;
  for (auto& M : FMenus)
    if (M.Form == &Form) Menu = &M.Commands;
  S.MenuHeight = Menu ? MenuBarHeight : 0;
  const int W = std::max(1, Form.ClientWidth());
  const int H = std::max(1, Form.ClientHeight()) + S.MenuHeight;
  S.Window = std::make_unique<TFormWindow>(Form.Left(), Form.Top(), W, H);
  Fl_Double_Window& Win = *S.Window;
  Win.copy_label(Form.Caption().c_str());
  Win.user_data(&Form);
  if (Menu) {
    auto* Bar = new Fl_Menu_Bar(0, 0, W, MenuBarHeight);
    for (const TMenuCommand& Command : *Menu) {
      S.MenuActions.push_back(std::make_unique<std::function<void()>>(Command.OnClick));
      Bar->add(
          Command.Path.c_str(), 0,
          [](Fl_Widget*, void* Data) {
            const auto Action = *static_cast<std::function<void()>*>(Data);
            if (GBackend && Action) GBackend->Defer(Action);
          },
          S.MenuActions.back().get());
    }
  }
  Win.end();
  for (int I = 0; I < Form.ControlCount(); ++I) Update(S, *Form.Controls(I));
  Win.callback([](Fl_Widget* Widget, void* Data) {
    auto* F = static_cast<TCustomForm*>(Data);
    const bool Escape = Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape;
    (void)Widget;
    if (!GBackend) return;
    GBackend->Defer([F, Escape] {
      if (!GBackend || !GBackend->Shows(F)) return;
      if (TButton* Cancel = CancelButtonOf(*F)) {
        Cancel->Click();
      } else if (!Escape && F->BorderIcons().Contains(biSystemMenu)) {
        F->Close();
      }
    });
  });
  switch (Form.BorderStyle()) {
    case bsSizeable:
    case bsSizeToolWin:
      Win.resizable(&Win);
      Win.size_range(std::min(W, 100), std::min(H, 50));
      break;
    case bsNone:
      Win.border(0);
      [[fallthrough]];
    default:
      Win.size_range(W, H, W, H);
  }
  if (Form.Modal()) PushModal(Win);
  Win.show();
  SetWindowHints(Win, Form);
  ApplyCursor(S);
  // Custom controls paint from the message loop once their widget exists.
  for (auto& [C, Widget] : S.Widgets)
    if (dynamic_cast<TCanvasWidget*>(Widget)) C->Invalidate();
}

void TFltkBackend::Update(TShownForm& S, TControl& C) {
  Fl_Widget* W = S.WidgetOf(&C);
  const int X = C.Left(), Y = C.Top() + S.MenuHeight;
  const int Wd = std::max(1, C.Width()), Ht = std::max(1, C.Height());
  const TFlFont Face = ToFlFont(C.Font());
  const bool Created = W == nullptr;
  if (Created) {
    S.Window->begin();
    if (dynamic_cast<TLabel*>(&C)) {
      W = new Fl_Box(FL_NO_BOX, X, Y, Wd, Ht, nullptr);
    } else if (auto* B = dynamic_cast<TButton*>(&C)) {
      W = B->Default() ? new Fl_Return_Button(X, Y, Wd, Ht) : new Fl_Button(X, Y, Wd, Ht);
      W->callback([](Fl_Widget* Widget, void*) {
        auto* Control = static_cast<TButton*>(Widget->user_data());
        if (!GBackend) return;
        GBackend->Defer([Control] {
          if (GBackend && GBackend->FindOwner(Control)) Control->Click();
        });
      });
    } else if (dynamic_cast<TProgressBar*>(&C)) {
      auto* P = new Fl_Progress(X, Y, Wd, Ht);
      P->color(FL_BACKGROUND2_COLOR);
      P->selection_color(ToFlColor(clHighlight));
      W = P;
    } else if (auto* M = dynamic_cast<TMemo*>(&C)) {
      S.Buffers.push_back(std::make_unique<Fl_Text_Buffer>());
      Fl_Text_Display* D =
          M->ReadOnly() ? new Fl_Text_Display(X, Y, Wd, Ht) : new Fl_Text_Editor(X, Y, Wd, Ht);
      D->buffer(S.Buffers.back().get());
      D->scrollbar_align(FL_ALIGN_BOTTOM_RIGHT);
      if (M->WordWrap()) D->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
      W = D;
    } else if (dynamic_cast<TCustomControl*>(&C)) {
      W = new TCanvasWidget(X, Y, Wd, Ht);
    }
    S.Window->end();
    if (W == nullptr) return;
    W->user_data(&C);
    S.Widgets.emplace_back(&C, W);
    C.FreeNotification(FWatch.get());
  } else if (W->x() != X || W->y() != Y || W->w() != Wd || W->h() != Ht) {
    S.Window->damage(FL_DAMAGE_ALL, W->x(), W->y(), W->w(), W->h());
    W->resize(X, Y, Wd, Ht);
  }
  W->labelfont(Face.Face);
  W->labelsize(Face.Size);
  W->labelcolor(Face.Color);
  if (auto* L = dynamic_cast<TLabel*>(&C)) {
    Fl_Align Align = FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP | FL_ALIGN_CLIP;
    Align |= L->Alignment() == taCenter         ? FL_ALIGN_CENTER
             : L->Alignment() == taRightJustify ? FL_ALIGN_RIGHT
                                                : FL_ALIGN_LEFT;
    W->align(Align);
    W->copy_label(FlText(C.Caption(), true).c_str());
  } else if (dynamic_cast<TButton*>(&C)) {
    W->copy_label(FlText(C.Caption(), true).c_str());
  } else if (auto* P = dynamic_cast<TProgressBar*>(&C)) {
    auto* Bar = static_cast<Fl_Progress*>(W);
    Bar->minimum(static_cast<float>(P->Min()));
    Bar->maximum(static_cast<float>(std::max(P->Max(), P->Min() + 1)));
    Bar->value(static_cast<float>(P->Position()));
  } else if (auto* M = dynamic_cast<TMemo*>(&C)) {
    auto* D = static_cast<Fl_Text_Display*>(W);
    D->textfont(Face.Face);
    D->textsize(Face.Size);
    const std::string Text = JoinLines([M] {
      std::vector<std::string> Lines;
      for (int I = 0; I < M->Lines()->Count(); ++I) Lines.push_back(M->Lines()->Strings(I));
      return Lines;
    }());
    const char* Old = D->buffer()->text();
    if (Text != Old) D->buffer()->text(Text.c_str());
    std::free(const_cast<char*>(Old));
  }
  if (C.Visible())
    W->show();
  else
    W->hide();
  // A label has no background of its own: what was under its old text must go too.
  S.Window->damage(FL_DAMAGE_ALL, W->x(), W->y(), W->w(), W->h());
  W->redraw();
  if (Created && S.Window->shown() && dynamic_cast<TCanvasWidget*>(W)) C.Invalidate();
}

void TFltkBackend::ControlChanged(TControl& Control) {
  if (auto* Form = dynamic_cast<TCustomForm*>(&Control)) {
    if (TShownForm* S = Find(Form)) {
      S->Window->copy_label(Form->Caption().c_str());
      const int W = std::max(1, Form->ClientWidth());
      const int H = std::max(1, Form->ClientHeight()) + S->MenuHeight;
      if (S->Window->w() != W || S->Window->h() != H) {
        if (Form->BorderStyle() != bsSizeable && Form->BorderStyle() != bsSizeToolWin)
          S->Window->size_range(W, H, W, H);
        S->Window->size(W, H);
      }
      ApplyCursor(*S);
      RequestPump();
    }
    return;
  }
  TShownForm* S = FindOwner(&Control);
  if (S == nullptr) {
    // A control placed on a showing form after it came into view.
    if (auto* Parent = dynamic_cast<TCustomForm*>(Control.Parent())) S = Find(Parent);
  }
  if (S == nullptr) return;
  Update(*S, Control);
  RequestPump();
}

void TFltkBackend::ModalPass(TCustomForm&) {
  // Events that Xlib already read off the connection leave nothing for the reactor to see.
  if (FOpened && !FInFltk && (XQLength(fl_display) > 0 || Fl::damage())) RequestPump();
}

void TFltkBackend::ApplyCursor(TShownForm& S) {
  if (!S.Window->shown()) return;
  const int C = FScreenCursor != crDefault ? FScreenCursor : S.Form->Cursor();
  S.Window->cursor(C == crHourGlass ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
}

void TFltkBackend::ScreenCursorChanged(int NewCursor) {
  FScreenCursor = NewCursor;
  for (auto& S : FForms) ApplyCursor(*S);
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
  TShownForm* S = FindOwner(&Control);
  if (S == nullptr) return;
  if (auto* W = dynamic_cast<TCanvasWidget*>(S->WidgetOf(&Control))) {
    FPainting = &Control;
    W->Ops.clear();
  }
}

void TFltkBackend::EndPaint(TControl& Control) {
  if (FPainting != &Control) return;
  FPainting = nullptr;
  if (TShownForm* S = FindOwner(&Control)) {
    S->WidgetOf(&Control)->redraw();
    RequestPump();
  }
}

void TFltkBackend::Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* W = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp Op;
  Op.Kind = TDrawOp::Rect;
  Op.X1 = X1, Op.Y1 = Y1, Op.X2 = X2, Op.Y2 = Y2;
  Op.Pen = ToFlColor(Canvas.Pen()->Color());
  Op.PenWidth = std::max(1, Canvas.Pen()->Width());
  Op.Brush = ToFlColor(Canvas.Brush()->Color());
  W->Ops.push_back(std::move(Op));
}

void TFltkBackend::FillRect(TCanvas& Canvas, const TRect& Rect) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* W = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp Op;
  Op.Kind = TDrawOp::Fill;
  Op.X1 = Rect.Left, Op.Y1 = Rect.Top, Op.X2 = Rect.Right, Op.Y2 = Rect.Bottom;
  Op.Brush = ToFlColor(Canvas.Brush()->Color());
  W->Ops.push_back(std::move(Op));
}

void TFltkBackend::TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* W = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp Op;
  Op.Kind = TDrawOp::Text;
  Op.X1 = X, Op.Y1 = Y;
  Op.Font = ToFlFont(Canvas.Font());
  Op.Str = Text;
  W->Ops.push_back(std::move(Op));
}

// ---- boxes and dialogs ----

void TFltkBackend::Beep(plat::UINT Type) {
  if (!FOpened) return;
  fl_beep(Type == 0x10 ? FL_BEEP_ERROR : Type == 0x20 ? FL_BEEP_QUESTION : FL_BEEP_DEFAULT);
}

void TFltkBackend::ShowMessage(const std::string& Title, const std::string& Text) {
  TMessageBoxRequest R;
  R.Caption = Title;
  R.Text = Text;
  R.Icon = miError;
  (void)MessageBox(R);
}

void TFltkBackend::RunDialog(TDialog& D) {
  ++FDialogs;
  UpdateTimer();
  Fl_Double_Window& W = *D.Window;
  W.position((Fl::w() - W.w()) / 2, (Fl::h() - W.h()) / 2);
  W.size_range(W.w(), W.h(), W.w(), W.h());
  PushModal(W);
  W.show();
  {
    TMessagePump MsgPump(*Application, {.HandleErrors = true});
    while (!D.Done && !Application->Terminated() && !MsgPump.Ended()) {
      Pump();
      if (D.Done) break;
      if (XQLength(fl_display) > 0) continue;
      MsgPump.PumpOne(true);
    }
  }
  PopModal(&W);
  W.hide();
  --FDialogs;
  UpdateTimer();
  RequestPump();
}

namespace {

// The round picture beside a box's text.
Fl_Box* MakeIcon(TMessageIcon Icon, int X, int Y) {
  const char* Letter = "i";
  Fl_Color Back = fl_rgb_color(0x33, 0x66, 0xCC), Fore = FL_WHITE;
  switch (Icon) {
    case miError:
      Letter = "X", Back = fl_rgb_color(0xCC, 0x22, 0x22);
      break;
    case miQuestion:
      Letter = "?";
      break;
    case miExclamation:
      Letter = "!", Back = fl_rgb_color(0xF0, 0xC0, 0x20), Fore = FL_BLACK;
      break;
    default:
      break;
  }
  auto* B = new Fl_Box(FL_OVAL_BOX, X, Y, 40, 40, Letter);
  B->color(Back);
  B->labelcolor(Fore);
  B->labelfont(FL_HELVETICA_BOLD);
  B->labelsize(26);
  return B;
}

}  // namespace

TModalResult TFltkBackend::MessageBox(const TMessageBoxRequest& Request) {
  const TModalResult Fallback =
      Request.EscapeResult != mrNone
          ? Request.EscapeResult
          : Request.Buttons.at(static_cast<size_t>(std::clamp<int>(
                Request.DefaultButton, 0, static_cast<int>(Request.Buttons.size()) - 1)));
  if (!FOpened || !Application) return Fallback;
  const std::string Text = FlText(JoinLines(MessageLines(Request.Text)), false);
  fl_font(FL_HELVETICA, 14);
  int TextW = 0, TextH = 0;
  fl_measure(Text.c_str(), TextW, TextH, 0);
  const int MaxText = std::max(300, Fl::w() * 2 / 3);
  if (TextW > MaxText) {
    TextW = MaxText;
    fl_measure(Text.c_str(), TextW, TextH, 0);
  }
  // Room for rounding, or the longest line would wrap once more when drawn.
  TextW += 8;
  const int IconW = Request.Icon != miNone ? 56 : 0;
  const int ButtonW = 90, ButtonH = 28, Gap = 10, Margin = 20;
  const int N = static_cast<int>(Request.Buttons.size());
  const int ButtonsW = N * ButtonW + (N - 1) * Gap;
  const int W = std::max({IconW + TextW + 2 * Margin, ButtonsW + 2 * Margin, 240});
  const int Body = std::max(TextH, IconW ? 40 : 0);
  const int H = Margin + Body + Margin + ButtonH + Margin;

  TDialog D;
  D.Window = std::make_unique<Fl_Double_Window>(W, H);
  D.Window->copy_label(Request.Caption.c_str());
  if (IconW) MakeIcon(Request.Icon, Margin, Margin);
  auto* Label = new Fl_Box(FL_NO_BOX, Margin + IconW, Margin, TextW, Body, nullptr);
  Label->copy_label(Text.c_str());
  Label->labelsize(14);
  Label->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
  struct TPress {
    TDialog* Dialog;
    TModalResult Result;
  };
  std::vector<TPress> Presses(Request.Buttons.size());
  int X = (W - ButtonsW) / 2;
  for (int I = 0; I < N; ++I, X += ButtonW + Gap) {
    const bool IsDefault = I == Request.DefaultButton;
    Fl_Button* B = IsDefault ? new Fl_Return_Button(X, H - Margin - ButtonH, ButtonW, ButtonH)
                             : new Fl_Button(X, H - Margin - ButtonH, ButtonW, ButtonH);
    B->copy_label(MessageButtonCaption(Request.Buttons[static_cast<size_t>(I)]).c_str());
    Presses[static_cast<size_t>(I)] = {&D, Request.Buttons[static_cast<size_t>(I)]};
    B->callback(
        [](Fl_Widget*, void* Data) {
          auto* P = static_cast<TPress*>(Data);
          P->Dialog->Result = P->Result;
          P->Dialog->Done = true;
        },
        &Presses[static_cast<size_t>(I)]);
  }
  D.Window->end();
  TPress Escape{&D, Request.EscapeResult};
  D.Window->callback(
      [](Fl_Widget*, void* Data) {
        auto* P = static_cast<TPress*>(Data);
        if (P->Result == mrNone) return;
        P->Dialog->Result = P->Result;
        P->Dialog->Done = true;
      },
      &Escape);
  RunDialog(D);
  return D.Done ? D.Result : Fallback;
}

namespace {

// "*.EXE;*.TXT" as FLTK's pattern, in either letter case; "*.*" matches every name, with a dot or
// not.
std::string FlPattern(const std::string& Mask) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  while (Start <= Mask.size()) {
    size_t End = Mask.find(';', Start);
    if (End == std::string::npos) End = Mask.size();
    std::string P = Mask.substr(Start, End - Start);
    P.erase(0, P.find_first_not_of(' '));
    while (!P.empty() && P.back() == ' ') P.pop_back();
    if (P == "*.*" || P == "*") return "*";
    // Masks come from systems where letter case does not count ("*.EXE").
    for (const std::string& Variant : {P, Lower(P), Upper(P)})
      if (!Variant.empty() && std::find(Parts.begin(), Parts.end(), Variant) == Parts.end())
        Parts.push_back(Variant);
    Start = End + 1;
  }
  if (Parts.empty()) return "*";
  if (Parts.size() == 1) return Parts[0];
  std::string Out = "{";
  for (size_t I = 0; I < Parts.size(); ++I) Out += (I ? "," : "") + Parts[I];
  return Out + "}";
}

bool IsDir(const std::string& Path) {
  struct stat St {};
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

std::string CurrentDir() {
  char Buf[4096];
  return ::getcwd(Buf, sizeof Buf) ? std::string(Buf) : std::string("/");
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
    std::string D = Dir;
    if (D.empty() || D.back() != '/') D += '/';
    Folder->value(Dir.c_str());
    const int Index = std::max(0, Types->value());
    const auto& Filters = Request->Filters;
    const std::string Pattern =
        static_cast<size_t>(Index) < Filters.size() ? FlPattern(Filters[Index].second) : "*";
    Browser->filter(Pattern.c_str());
    Browser->load(D.c_str());
    // The entry for the folder itself is of no use here.
    for (int I = Browser->size(); I >= 1; --I)
      if (std::strcmp(Browser->text(I), "./") == 0) Browser->remove(I);
  }
  void Enter(const std::string& Sub) {
    if (Sub == "../") {
      const size_t Slash = Dir.find_last_of('/');
      Dir = Slash == 0 || Slash == std::string::npos ? "/" : Dir.substr(0, Slash);
    } else {
      Dir = (Dir == "/" ? "/" : Dir + "/") + Sub.substr(0, Sub.size() - 1);
    }
    Load();
  }
};

}  // namespace

bool TFltkBackend::SaveDialog(TSaveDialogRequest& Request) {
  if (!FOpened || !Application) return false;
  TDialog D;
  TSaveState St;
  St.Dialog = &D;
  St.Request = &Request;
  St.Dir = Request.InitialDir.empty() ? CurrentDir() : Request.InitialDir;
  while (St.Dir.size() > 1 && St.Dir.back() == '/') St.Dir.pop_back();
  std::string Proposed = Request.FileName;
  if (const size_t Slash = Proposed.find_last_of('/'); Slash != std::string::npos) {
    if (Request.InitialDir.empty() && Slash > 0) St.Dir = Proposed.substr(0, Slash);
    Proposed = Proposed.substr(Slash + 1);
  }

  const int W = 520, H = 372;
  D.Window = std::make_unique<Fl_Double_Window>(W, H);
  D.Window->copy_label(Request.Title.empty() ? "Save As" : Request.Title.c_str());
  St.Folder = new Fl_Input(100, 12, 400, 26, "Save &in:");
  St.Folder->when(FL_WHEN_ENTER_KEY_ALWAYS);
  St.Browser = new Fl_File_Browser(20, 48, 480, 230);
  St.Browser->type(FL_HOLD_BROWSER);
  St.Name = new Fl_Input(110, 292, 280, 26, "File &name:");
  St.Name->value(Proposed.c_str());
  St.Types = new Fl_Choice(110, 330, 280, 26, "Save as &type:");
  for (const auto& Filter : Request.Filters) {
    // Menu item texts treat '/' as a submenu and '&' as an access key.
    std::string Item = FlText(Filter.first, false);
    std::string Safe;
    for (char C : Item) {
      if (C == '/') Safe += '\\';
      Safe += C;
    }
    St.Types->add(Safe.c_str());
  }
  if (Request.Filters.empty()) St.Types->add("All files");
  St.Types->value(std::clamp(Request.FilterIndex - 1, 0, std::max(0, St.Types->size() - 2)));
  auto* Save = new Fl_Return_Button(410, 292, 90, 26, "&Save");
  auto* Cancel = new Fl_Button(410, 330, 90, 26, "Cancel");
  D.Window->end();

  St.Folder->callback(
      [](Fl_Widget*, void* Data) {
        auto* S = static_cast<TSaveState*>(Data);
        const std::string Typed = S->Folder->value();
        if (IsDir(Typed)) S->Dir = Typed;
        S->Load();
      },
      &St);
  St.Browser->callback(
      [](Fl_Widget*, void* Data) {
        auto* S = static_cast<TSaveState*>(Data);
        const int Line = S->Browser->value();
        if (Line <= 0) return;
        const std::string Item = S->Browser->text(Line);
        if (!Item.empty() && Item.back() == '/') {
          if (Fl::event_clicks()) S->Enter(Item);
        } else {
          S->Name->value(Item.c_str());
        }
      },
      &St);
  St.Types->callback([](Fl_Widget*, void* Data) { static_cast<TSaveState*>(Data)->Load(); }, &St);
  Save->callback(
      [](Fl_Widget*, void* Data) {
        auto* S = static_cast<TSaveState*>(Data);
        std::string Name = S->Name->value();
        if (Name.empty()) return;
        const std::string Full = Name[0] == '/' ? Name : S->Dir + (S->Dir == "/" ? "" : "/") + Name;
        if (IsDir(Full)) {
          S->Dir = Full;
          S->Name->value("");
          S->Load();
          return;
        }
        S->Dialog->Result = mrOk;
        S->Dialog->Done = true;
      },
      &St);
  auto CancelCb = [](Fl_Widget*, void* Data) {
    auto* S = static_cast<TSaveState*>(Data);
    S->Dialog->Result = mrCancel;
    S->Dialog->Done = true;
  };
  Cancel->callback(CancelCb, &St);
  D.Window->callback(CancelCb, &St);
  St.Load();
  St.Name->take_focus();
  RunDialog(D);
  if (!D.Done || D.Result != mrOk) return false;
  const std::string Name = St.Name->value();
  Request.FileName = Name[0] == '/' ? Name : St.Dir + (St.Dir == "/" ? "" : "/") + Name;
  Request.FilterIndex = St.Types->value() + 1;
  return true;
}

// ---- choosing the back-end ----

namespace {
TFltkBackend* GBest = nullptr;
}  // namespace

TUIBackend& UseBestBackend() {
  static TUIBackend* Chosen = nullptr;
  if (Chosen) return *Chosen;
  auto Windowed = std::make_unique<TFltkBackend>();
  if (Windowed->Open()) {
    GBest = Windowed.release();
    Chosen = GBest;
  } else {
    Windowed.reset();
    Chosen = new TTerminalBackend();
  }
  SetUIBackend(Chosen);
  return *Chosen;
}

TFltkBackend* InstalledFltkBackend() {
  return GBest && &UIBackend() == GBest ? GBest : nullptr;
}

#if defined(__SANITIZE_ADDRESS__)
// The font and display caches of the system's libraries live until the process ends and
// are theirs to keep; the display connection itself stays open to the end on purpose.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}
#endif
