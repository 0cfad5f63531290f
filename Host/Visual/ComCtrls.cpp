#include "Host/ComCtrls.h"

#include <algorithm>

#include "Host/Forms.h"
#include "Host/Published.h"

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) {}

void TProgressBar::SetRange(int AMin, int AMax) {
  if (AMin > AMax)
    throw EInvalidOperation(Format("Progress bar range %d to %d is empty", AMin, AMax));
  FMin = AMin;
  FMax = AMax;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Invalidate();
  NotifyChanged();
}

void TProgressBar::SetPosition(int Value) {
  Value = std::clamp(Value, FMin, FMax);
  if (Value == FPosition) return;
  FPosition = Value;
  Invalidate();
  NotifyChanged();
}

const TPublishedClass* TProgressBar::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TProgressBar::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TProgressBar", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TProgressBar(AOwner); });
    // The range before the position, which it bounds.
    TPublish<TProgressBar>(*c)
        .Integer("Min", &TProgressBar::Min, &TProgressBar::SetMin)
        .Default(0)
        .Integer("Max", &TProgressBar::Max, &TProgressBar::SetMax)
        .Default(100)
        .Integer("Position", &TProgressBar::Position, &TProgressBar::SetPosition)
        .Default(0)
        .Integer("TabOrder", &TProgressBar::TabOrder, &TProgressBar::SetTabOrder)
        .Default(-1);
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}

namespace {
// A form file may name these before the application has made one.
[[maybe_unused]] const bool kComCtrlsRegistered = (TProgressBar::PublishedClass(), true);
}  // namespace
