#include "Host/Backends/FormReading.h"

#include "Host/Forms.h"
#include "Host/StdCtrls.h"

namespace formreading {

namespace {

void Collect(const TWinControl& Parent, std::vector<TControl*>& Out) {
  for (int i = 0; i < Parent.ControlCount(); ++i) {
    TControl* c = Parent.Controls(i);
    if (!c->Visible()) continue;
    Out.push_back(c);
    if (auto* w = dynamic_cast<TWinControl*>(c)) Collect(*w, Out);
  }
}

}  // namespace

std::vector<TControl*> ShownControls(const TWinControl& Parent) {
  std::vector<TControl*> result;
  Collect(Parent, result);
  return result;
}

std::vector<TButton*> ButtonsOf(const TCustomForm& Form) {
  return ShownControlsOf<TButton>(Form);
}

TButton* CancelButtonOf(const TCustomForm& Form) {
  const std::vector<TButton*> buttons = ButtonsOf(Form);
  for (TButton* b : buttons)
    if (b->Cancel()) return b;
  for (TButton* b : buttons)
    if (StripAccessKey(b->Caption()) == "Cancel") return b;
  return buttons.size() == 1 ? buttons[0] : nullptr;
}

TButton* DefaultButtonOf(const TCustomForm& Form) {
  const std::vector<TButton*> buttons = ButtonsOf(Form);
  for (TButton* b : buttons)
    if (b->Default()) return b;
  return buttons.empty() ? nullptr : buttons[0];
}

}  // namespace formreading
