#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>

#include "Host/Application.h"
#include "Host/Backends/Fltk/FltkParts.h"
#include "Host/MessagePump.h"

using namespace fltkparts;

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
  ShowWithHints(w, D.Hints, true);
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
  const int buttonH = 28, gap = 10, margin = 20;
  const int n = static_cast<int>(Request.Buttons.size());
  // Wide enough for the longest caption ("Remind me later"), and never narrower than 90.
  int buttonW = 90;
  for (int i = 0; i < n; ++i) {
    int bw = 0, bh = 0;
    fl_measure(Request.ButtonCaption(static_cast<size_t>(i)).c_str(), bw, bh, 0);
    buttonW = std::max(buttonW, bw + 24);
  }
  const int buttonsW = n * buttonW + (n - 1) * gap;
  const int w = std::max({iconW + textW + 2 * margin, buttonsW + 2 * margin, 240});
  const int body = std::max(textH, iconW ? 40 : 0);
  const int h = margin + body + margin + buttonH + margin;

  TDialog d;
  d.Window = std::make_unique<TDialogWindow>(w, h);
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
    Fl_Button* b = isDefault ? new TDefaultButton(x, h - margin - buttonH, buttonW, buttonH)
                             : new Fl_Button(x, h - margin - buttonH, buttonW, buttonH);
    if (isDefault) d.Window->Default = b;
    b->copy_label(Request.ButtonCaption(static_cast<size_t>(i)).c_str());
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
  // The focus ring starts where Enter goes; Tab moves both. Only once the window is
  // complete: without a window manager, taking the focus shows the window.
  if (d.Window->Default) d.Window->Default->take_focus();
  // The close box answers like Escape; a box that Escape cannot close has none.
  d.Hints.Close = Request.EscapeResult != mrNone;
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
