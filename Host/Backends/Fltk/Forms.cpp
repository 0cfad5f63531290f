#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/x.H>
#include <X11/Xatom.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "Host/Backends/Fltk/FltkParts.h"
#include "Host/Backends/FormReading.h"
#include "Host/ComCtrls.h"
#include "Host/Forms.h"
#include "Host/StdCtrls.h"

namespace fltkparts {

bool IsEnterKey() {
  return Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
}

Fl_Button* FocusedButton(Fl_Window& Window) {
  Fl_Widget* focus = Fl::focus();
  if (focus == nullptr || !Window.contains(focus)) return nullptr;
  return dynamic_cast<Fl_Button*>(focus);
}

int TDefaultButton::handle(int Event) {
  if (Event == FL_SHORTCUT && IsEnterKey()) return 0;
  return Fl_Return_Button::handle(Event);
}

int TDialogWindow::handle(int Event) {
  // Keys come here from the focused control when it did not take them, and as shortcuts.
  if ((Event == FL_KEYBOARD || Event == FL_SHORTCUT) && IsEnterKey()) {
    Fl_Button* target = FocusedButton(*this);
    if (target == nullptr) target = Default;
    if (target != nullptr && target->active_r()) {
      target->do_callback();
      return 1;
    }
  }
  return Fl_Double_Window::handle(Event);
}

int TFormWindow::handle(int Event) {
  if ((Event == FL_KEYBOARD || Event == FL_SHORTCUT) && IsEnterKey() && GBackend) {
    auto* form = static_cast<TCustomForm*>(user_data());
    // The form's buttons carry their control; the focused one is pressed, else the default.
    const TControl* focused = nullptr;
    if (Fl_Button* b = FocusedButton(*this)) focused = static_cast<TControl*>(b->user_data());
    GBackend->Defer([form, focused] {
      if (!GBackend || !GBackend->Shows(form)) return;
      // Looked up again: the focused button may have gone meanwhile.
      TButton* target = nullptr;
      for (TButton* b : formreading::ButtonsOf(*form))
        if (b == focused) target = b;
      if (target == nullptr) target = formreading::DefaultButtonOf(*form);
      if (target != nullptr) target->Click();
    });
    return 1;
  }
  return Fl_Double_Window::handle(Event);
}

namespace {

// What the running window manager says of itself on the root window (the common
// conventions), read as a window is about to be shown.
struct TManager {
  bool Runs = false;
  // fluxbox puts a close button on every title bar it draws, whatever functions the window
  // asks for (and then refuses the close, so that the button does nothing); only a window
  // typed as a tool gets a title bar without buttons (and no side borders).
  bool CloseOnEveryTitle = false;
};
TManager GManager;

// Ignores the error of a window that went away between two requests.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

TManager ReadManager() {
  TManager m;
  const Atom check = XInternAtom(fl_display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return m;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int rc = XGetWindowProperty(fl_display, RootWindow(fl_display, fl_screen), check, 0, 1, False,
                              XA_WINDOW, &type, &format, &count, &after, &data);
  Window wm = None;
  if (rc == Success && data != nullptr && count == 1 && format == 32)
    wm = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
  if (data != nullptr) XFree(data);
  if (wm == None) return m;
  m.Runs = true;
  // Its name, on the window the root points to (a window gone by now only costs the name).
  const Atom name = XInternAtom(fl_display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(fl_display, "UTF8_STRING", False);
  XSync(fl_display, False);
  const auto oldHandler = XSetErrorHandler(&IgnoreXError);
  data = nullptr;
  rc = XGetWindowProperty(fl_display, wm, name, 0, 16, False, utf8, &type, &format, &count, &after,
                          &data);
  XSync(fl_display, False);
  XSetErrorHandler(oldHandler);
  if (rc == Success && data != nullptr && format == 8)
    m.CloseOnEveryTitle = std::string(reinterpret_cast<char*>(data), count) == "Fluxbox";
  if (data != nullptr) XFree(data);
  return m;
}

}  // namespace

void SetWindowHints(Fl_Window& W, const TWindowHints& Hints) {
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
  unsigned long funcs = FuncMove, decos = DecoBorder | DecoTitle;
  if (Hints.Resize) funcs |= FuncResize, decos |= DecoResizeH;
  if (Hints.Close) funcs |= FuncClose, decos |= DecoMenu;
  if (Hints.Minimize) funcs |= FuncMinimize, decos |= DecoMinimize;
  if (Hints.Maximize) funcs |= FuncMaximize, decos |= DecoMaximize;
  long hints[5] = {3, static_cast<long>(funcs), static_cast<long>(decos), 0, 0};
  const Atom motif = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, x, motif, motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
  if (GManager.CloseOnEveryTitle && !Hints.Close) {
    // A close button that does nothing is worse than none: typed as a tool first (a window
    // manager takes the first type it knows), still a dialog to anyone reading on.
    Atom types[2] = {XInternAtom(fl_display, "_NET_WM_WINDOW_TYPE_TOOLBAR", False),
                     XInternAtom(fl_display, "_NET_WM_WINDOW_TYPE_DIALOG", False)};
    XChangeProperty(fl_display, x, XInternAtom(fl_display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(types), 2);
  }
}

namespace {

// The window being shown by ShowWithHints and its hints; Xlib's after-function writes
// them after each request from the moment the window exists.
Fl_Window* GShowing = nullptr;
TWindowHints GShowingHints;
bool GInAfter = false;

int AfterRequest(Display*) {
  if (GInAfter || GShowing == nullptr || fl_xid(GShowing) == 0) return 0;
  GInAfter = true;
  SetWindowHints(*GShowing, GShowingHints);
  GInAfter = false;
  return 0;
}

}  // namespace

void ShowWithHints(Fl_Window& W, const TWindowHints& Hints, bool Bordered) {
  GManager = ReadManager();
  // Framed as a tool, a window gets a title bar only: the rest of the border is ours too.
  if (Bordered && (!GManager.Runs || (GManager.CloseOnEveryTitle && !Hints.Close)))
    W.box(FL_BORDER_BOX);
  // FLTK creates the X window, writes hints of its own and maps it, all inside show(): the
  // after-function puts ours over FLTK's before the mapping request follows, so that a
  // window manager framing the window reads ours.
  GShowing = &W;
  GShowingHints = Hints;
  const auto previous = XSetAfterFunction(fl_display, &AfterRequest);
  try {
    W.show();
  } catch (...) {
    XSetAfterFunction(fl_display, previous);
    GShowing = nullptr;
    throw;
  }
  XSetAfterFunction(fl_display, previous);
  GShowing = nullptr;
  SetWindowHints(W, Hints);
}

TWindowHints HintsOf(const TCustomForm& Form) {
  const TBorderIcons icons = Form.BorderIcons();
  const bool sizeable = Form.BorderStyle() == bsSizeable || Form.BorderStyle() == bsSizeToolWin;
  const bool dialog = Form.BorderStyle() == bsDialog;
  TWindowHints hints;
  hints.Resize = sizeable;
  hints.Close = icons.Contains(biSystemMenu);
  hints.Minimize = icons.Contains(biMinimize) && !dialog;
  hints.Maximize = icons.Contains(biMaximize) && !dialog && sizeable;
  return hints;
}

namespace {

constexpr int MenuBarHeight = 25;

}  // namespace
}  // namespace fltkparts

using namespace fltkparts;
using formreading::CancelButtonOf;
using formreading::DefaultButtonOf;

void TFltkBackend::SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands) {
  for (auto& m : FMenus)
    if (m.Form == &Form) {
      m.Commands = std::move(Commands);
      return;
    }
  FMenus.push_back({&Form, std::move(Commands)});
  Form.FreeNotification(FWatch.get());
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
  // The focus ring starts where Enter goes.
  if (TButton* d = DefaultButtonOf(form))
    if (Fl_Widget* widget = S.WidgetOf(d)) widget->take_focus();
  ShowWithHints(win, HintsOf(form), form.BorderStyle() != bsNone);
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
      w = b->Default() ? new TDefaultButton(x, y, wd, ht) : new Fl_Button(x, y, wd, ht);
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
    // A horizontal scroll bar means long lines stay whole, to be scrolled to; without one
    // they wrap when the memo wraps. No scroll bars at all: none shown.
    const TScrollStyle bars = m->ScrollBars();
    const bool wrap = m->WordWrap() && bars != ssHorizontal && bars != ssBoth;
    d->wrap_mode(wrap ? Fl_Text_Display::WRAP_AT_BOUNDS : Fl_Text_Display::WRAP_NONE, 0);
    d->scrollbar_width(bars == ssNone ? 0 : Fl::scrollbar_size());
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
        // FLTK wrote hints of its own with the new size range.
        SetWindowHints(*s->Window, HintsOf(*form));
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
